#!/usr/bin/python3
"""Time and peak memory of tabrix-export from SQLite to .xlsx against its peers.

Makes an SQLite table of N (default 1,000,000) rows x 8 columns (whole numbers, texts,
real numbers, dates as ISO text), then exports it to an .xlsx workbook with
`tabrix-export DB --table t -o out.xlsx` (typed cells: numbers, texts, dates), with
Python's sqlite3 + openpyxl in write-only mode, and, when it is built, with a C program
writing the same typed cells through libxlsxwriter's constant-memory mode
(bench/peers/xlsxwriter_sqlite.c), each in its own child process, and prints wall time
and peak resident memory (the child's max RSS from wait4) of every run and the ratios.

    /usr/bin/python3 bench/export_cli_bench.py [--exe build/tools/tabrix-export]
        [--peer build-bench/bench/bench_xlsxwriter_sqlite] [--rows 1000000] [--repeat 3]

Needs Debian's python3-openpyxl; the C peer needs libxlsxwriter-dev and a build with
-DTABRIX_BUILD_BENCH=ON.

With --direct the same table goes to .xls and to .rtf twice each, through the
spreadsheet and word-processor servers and through the direct writers (--direct), and
the script prints the farm-bench commands that compare them pair by pair:

    /usr/bin/python3 bench/export_cli_bench.py --direct --rows 100000 [--keep DIR]
"""
import argparse
import os
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

OPENPYXL_SCRIPT = r'''
import sqlite3, sys
from openpyxl import Workbook
db, out = sys.argv[1], sys.argv[2]
wb = Workbook(write_only=True)
ws = wb.create_sheet("t")
cur = sqlite3.connect(db).execute("SELECT * FROM t")
ws.append([d[0] for d in cur.description])
for row in cur:
    ws.append(row)
wb.save(out)
'''


def measure(argv, cwd):
    """Runs argv; returns (seconds, max RSS in MiB)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    err = proc.stderr.read().decode(errors='replace')
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit('failed: %s\n%s' % (' '.join(argv[:3]), err))
    return seconds, usage.ru_maxrss / 1024.0


def make_database(path, rows):
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE t (id INTEGER, code INTEGER, name TEXT, city TEXT, note TEXT, "
               "price REAL, rate REAL, day DATE)")
    db.execute("INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
               "SELECT i, i % 9973, 'name ' || i, 'city ' || (i % 500), 'a note of row ' || i, "
               "i * 0.25, (i % 1000) / 7.0, date('2020-01-01', '+' || (i % 2000) || ' days') FROM n", (rows,))
    db.commit()
    db.close()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', default=os.path.join(here, '..', 'build', 'tools', 'tabrix-export'))
    parser.add_argument('--peer', default=os.path.join(here, '..', 'build-bench', 'bench', 'bench_xlsxwriter_sqlite'))
    parser.add_argument('--rows', type=int, default=1000000)
    parser.add_argument('--repeat', type=int, default=3)
    parser.add_argument('--direct', action='store_true', help='bridged against direct .xls and .rtf')
    parser.add_argument('--keep', help='with --direct: make the database in DIR and keep it')
    args = parser.parse_args()
    if args.direct:
        return direct_against_bridged(args)
    with tempfile.TemporaryDirectory(prefix='tabrix-export-bench-') as work:
        db = os.path.join(work, 'source.db')
        make_database(db, args.rows)
        runs = {
            'tabrix-export': [os.path.abspath(args.exe), db, '--table', 't', '-o', 'tabrix.xlsx', '-q'],
            'sqlite3 + openpyxl write-only': ['/usr/bin/python3', '-c', OPENPYXL_SCRIPT, db, 'openpyxl.xlsx'],
        }
        if os.path.exists(args.peer):
            runs['C, libxlsxwriter constant memory'] = [os.path.abspath(args.peer), db, 'peer.xlsx']
        results = {}
        for name, argv in runs.items():
            samples = [measure(argv, work) for _ in range(args.repeat)]
            results[name] = (statistics.median(s[0] for s in samples), max(s[1] for s in samples))
        print('%d rows x 8 columns from SQLite to .xlsx; median time of %d runs, highest max RSS'
              % (args.rows, args.repeat))
        print('%-32s %10s %14s' % ('run', 'time (s)', 'max RSS (MiB)'))
        for name, (seconds, rss) in results.items():
            print('%-32s %10.2f %14.1f' % (name, seconds, rss))
        ours = results['tabrix-export']
        for name, peer in results.items():
            if name != 'tabrix-export':
                print('tabrix-export / %s: time %.3f, memory %.3f' % (name, ours[0] / peer[0], ours[1] / peer[1]))


def direct_against_bridged(args):
    """The direct writers against the bridged exporters, .xls and .rtf: time, peak memory,
    and that both wrote the same bytes."""
    work = args.keep or tempfile.mkdtemp(prefix='tabrix-export-bench-')
    os.makedirs(work, exist_ok=True)
    db = os.path.join(work, 'source.db')
    if not os.path.exists(db):
        make_database(db, args.rows)
    exe = os.path.abspath(args.exe)
    print('%d rows x 8 columns from SQLite; median time of %d runs, highest max RSS' % (args.rows, args.repeat))
    print('%-6s %-8s %10s %14s' % ('target', 'writer', 'time (s)', 'max RSS (MiB)'))
    for ext in ('xls', 'rtf'):
        results = {}
        for writer, extra in (('bridged', []), ('direct', ['--direct'])):
            out = os.path.join(work, '%s.%s' % (writer, ext))
            argv = [exe, db, '--table', 't', '-q', '--rows-per-file', '65535', '-o', out] + extra
            if ext == 'rtf':
                argv.remove('--rows-per-file')
                argv.remove('65535')
            samples = [measure(argv, work) for _ in range(args.repeat)]
            results[writer] = (statistics.median(s[0] for s in samples), max(s[1] for s in samples))
            print('%-6s %-8s %10.2f %14.1f' % (ext, writer, results[writer][0], results[writer][1]))
        same = open(os.path.join(work, 'bridged.' + ext), 'rb').read() == open(os.path.join(work, 'direct.' + ext),
                                                                               'rb').read()
        print('%-6s direct / bridged: time %.3f, memory %.3f; same bytes: %s'
              % (ext, results['direct'][0] / results['bridged'][0], results['direct'][1] / results['bridged'][1],
                 same))
        split = ' --rows-per-file 65535' if ext == 'xls' else ''
        print("  farm-bench -n 5 --timeout 3600 --vs '%s %s --table t -q%s -o %s/b.%s' -- %s %s --table t -q%s "
              "--direct -o %s/d.%s" % (exe, db, split, work, ext, exe, db, split, work, ext))


if __name__ == '__main__':
    main()
