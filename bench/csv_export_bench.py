#!/usr/bin/python3
"""Time and peak memory of a table exported to .csv and .pdf against their peers.

A table of N rows (default 1,000,000) and 8 columns (integers, floats, dates, texts,
some of them quoted, every tenth null) is made in an SQLite file. Then, in turn, R times
each (default 3), each command in its own child process under /usr/bin/time -v:

  - tabrix-export --table t -o t.csv  against  sqlite3 -csv FILE "SELECT * FROM t"
    (written to a file, as ours is);
  - with --pdf-rows P (default 100,000): tabrix-export of the first P rows to .pdf
    against LibreOffice converting the same rows' CSV to PDF
    (soffice --headless --convert-to pdf).

The median wall times, their ratio and the largest peak resident size of each command
are printed.

    /usr/bin/python3 bench/csv_export_bench.py [--exe build/tools/tabrix-export]
                                               [--rows 1000000] [--pdf-rows 100000]
                                               [--repeat 3] [--no-pdf]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def measured(argv, stdout=subprocess.DEVNULL):
    """Wall seconds and peak resident kilobytes of one run of argv."""
    start = time.monotonic()
    proc = subprocess.run(['/usr/bin/time', '-v'] + argv, stdout=stdout, stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    report = proc.stderr.decode(errors='replace')
    if proc.returncode != 0:
        sys.exit('failed: %s\n%s' % (' '.join(argv), report))
    peak = int(re.search(r'Maximum resident set size \(kbytes\): (\d+)', report).group(1))
    return seconds, peak


def compare(name_a, run_a, name_b, run_b, repeat):
    times_a, times_b, peak_a, peak_b = [], [], 0, 0
    for _ in range(repeat):
        s, p = run_a()
        times_a.append(s)
        peak_a = max(peak_a, p)
        s, p = run_b()
        times_b.append(s)
        peak_b = max(peak_b, p)
    a, b = statistics.median(times_a), statistics.median(times_b)
    width = max(len(name_a), len(name_b)) + 1
    print('%-*s %8.3f s  peak %7.1f MB  (median of %d)' % (width, name_a + ':', a, peak_a / 1024, repeat))
    print('%-*s %8.3f s  peak %7.1f MB' % (width, name_b + ':', b, peak_b / 1024))
    print('%-*s %8.2fx' % (width, 'ratio:', a / b))


def make_table(db, rows):
    sql = ("CREATE TABLE t (id INTEGER PRIMARY KEY, qty INTEGER, price REAL, name TEXT, day DATE, "
           "ratio REAL, note TEXT, code INTEGER);"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
           "INSERT INTO t SELECT i, i * 7, i * 0.25, 'name ' || i, date('2020-01-01', '+' || (i %% 1000) || ' days'), "
           "i / 3.0, CASE WHEN i %% 10 = 0 THEN NULL ELSE 'x,\"y\" ' || i END, i %% 100 FROM n;" % rows)
    subprocess.run(['sqlite3', db, sql], check=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', default=os.path.join(here, '..', 'build', 'tools', 'tabrix-export'))
    parser.add_argument('--rows', type=int, default=1000000)
    parser.add_argument('--pdf-rows', type=int, default=100000)
    parser.add_argument('--repeat', type=int, default=3)
    parser.add_argument('--no-pdf', action='store_true')
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        db = os.path.join(tmp, 't.db')
        make_table(db, args.rows)
        peer_csv = os.path.join(tmp, 'peer.csv')

        def sqlite_csv():
            with open(peer_csv, 'wb') as out:
                return measured(['sqlite3', '-csv', db, 'SELECT * FROM t'], stdout=out)

        print('%d rows x 8 columns to CSV' % args.rows)
        compare('tabrix-export .csv', lambda: measured([args.exe, db, '--table', 't', '-q', '-o',
                                                        os.path.join(tmp, 't.csv')]),
                'sqlite3 -csv', sqlite_csv, args.repeat)
        if args.no_pdf:
            return
        query = 'SELECT * FROM t WHERE id <= %d' % args.pdf_rows
        csv = os.path.join(tmp, 'p.csv')
        subprocess.run([args.exe, db, '--query', query, '-q', '-o', csv], check=True)
        profile = 'file://' + os.path.join(tmp, 'lo-profile')
        print('%d rows x 8 columns to PDF' % args.pdf_rows)
        compare('tabrix-export .pdf', lambda: measured([args.exe, db, '--query', query, '-q', '-o',
                                                        os.path.join(tmp, 'p.pdf')]),
                'soffice --convert-to pdf', lambda: measured(['soffice', '-env:UserInstallation=' + profile,
                                                              '--headless', '--convert-to', 'pdf', '--outdir',
                                                              os.path.join(tmp, 'lo'), csv]),
                args.repeat)


if __name__ == '__main__':
    main()
