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
    args = parser.parse_args()
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


if __name__ == '__main__':
    main()
