#!/bin/bash
# tabrix-export killed with SIGKILL at random moments of large .xlsx, .docx and .csv runs,
# and two merges into one workbook at once.
#  - A killed run leaves nothing beside the target and nothing in the temporary folder;
#    the target is the file it replaced, whole, or the new one, whole.
#  - Of two concurrent --merge runs into one .xlsx, each either adds all its rows or is
#    refused; the workbook never holds a part of one.
# Usage: killed_runs_test.sh TABRIX_EXPORT [KILLS_PER_KIND]
set -u
exe=$1
kills=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out" "$work/tmp"
export TMPDIR=$work/tmp
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

python3 - "$work/src.db" <<'EOF'
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
for t, n in (("big", 100000), ("a", 3000), ("b", 3000)):
    c.execute(f"CREATE TABLE {t} (id INTEGER, who TEXT, amount REAL)")
    c.executemany(f"INSERT INTO {t} VALUES (?, ?, ?)", ((i, t, i / 7) for i in range(n)))
c.commit()
EOF

# Whether FILE is a whole target of its kind: a package whose parts all read back, or a
# CSV of the small run's or the big run's rows.
whole() {
    python3 - "$1" <<'EOF'
import sys, zipfile
name = sys.argv[1]
if name.endswith(".csv"):
    lines = open(name, encoding="utf-8").read().splitlines()
    sys.exit(0 if len(lines) in (2, 100001) and lines[-1].startswith(("0,", "99999,")) else 1)
with zipfile.ZipFile(name) as z:
    sys.exit(0 if z.testzip() is None else 1)
EOF
}

for ext in xlsx docx csv; do
    rm -f "$work"/out/*
    target=$work/out/target.$ext
    "$exe" -q "$work/src.db" --query "SELECT * FROM big LIMIT 1" -o "$target" || fail "first $ext run"
    start=$(date +%s%N)
    "$exe" -q "$work/src.db" --table big -o "$work/whole.$ext" || fail "whole $ext run"
    span=$((($(date +%s%N) - start) / 1000000))
    rm -f "$work/whole.$ext"
    for ((i = 0; i < kills; i++)); do
        "$exe" -q "$work/src.db" --table big -o "$target" &
        pid=$!
        sleep "$(awk -v ms=$((RANDOM % (span + 1))) 'BEGIN { printf "%.3f", ms / 1000 }')"
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        left=$(ls -A "$work/out")
        [ "$left" = "target.$ext" ] || fail "$ext kill $i left: $left"
        [ -z "$(ls -A "$work/tmp")" ] || fail "$ext kill $i left in the temporary folder: $(ls -A "$work/tmp")"
        whole "$target" || fail "$ext kill $i: the target is not whole"
        rm -f "$work"/out/.target.*
    done
done

# Two merges at once into one workbook.
for ((i = 0; i < 5; i++)); do
    book=$work/out/merged$i.xlsx
    "$exe" -q "$work/src.db" --query "SELECT 'base' AS who" -o "$book" --sheet S || fail "base workbook"
    "$exe" -q "$work/src.db" --table a --no-title --merge --sheet S -o "$book" 2>"$work/a.err" &
    pa=$!
    "$exe" -q "$work/src.db" --table b --no-title --merge --sheet S -o "$book" 2>"$work/b.err" &
    pb=$!
    wait $pa
    ca=$?
    wait $pb
    cb=$?
    for who in a b; do
        err=$(cat "$work/$who.err")
        code=$([ $who = a ] && echo $ca || echo $cb)
        [ "$code" = 0 ] || [[ "$err" == *"being merged into by another run"* || "$err" == *"changed while it was open"* ]] ||
            fail "merge $i of $who ended $code: $err"
    done
    python3 - "$book" $ca $cb <<'EOF' || fail "merge $i: the workbook holds a mix"
import sys, zipfile, re
book, ca, cb = sys.argv[1], sys.argv[2] == "0", sys.argv[3] == "0"
with zipfile.ZipFile(book) as z:
    sheets = [n for n in z.namelist() if n.startswith("xl/worksheets/") and n.endswith(".xml")]
    text = "".join(z.read(n).decode("utf-8") for n in sheets)
    strings = z.read("xl/sharedStrings.xml").decode("utf-8") if "xl/sharedStrings.xml" in z.namelist() else ""
rows = len(re.findall(r"<row[ >]", text))
# The rows of a run that ended 0 are all there, and no other rows.
expected = 2 + 3000 * (ca + cb)
if rows != expected:
    print(f"rows {rows}, expected {expected} (a ended 0: {ca}, b: {cb})")
    sys.exit(1)
EOF
done
[ -z "$(ls -A "$work/tmp")" ] || fail "merges left in the temporary folder: $(ls -A "$work/tmp")"
[ "$(ls -A "$work/out" | grep -c '^\.')" = 0 ] || fail "merges left: $(ls -A "$work/out")"

[ $failures = 0 ] && echo "killed runs and concurrent merges: all well"
exit $((failures > 0))
