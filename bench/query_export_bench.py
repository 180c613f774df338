#!/usr/bin/python3
"""Time of an SQLite query exported to .xlsx against sqlite3 printing the same rows.

The query is a recursive count of N steps (default 3,000,000) that keeps every
1,000th row, so nearly all of its time is the database's own work: the figure shows
what the export adds to running the query once. Both commands run in turn, R times
each (default 5), each in its own child process; the median wall times and their
ratio are printed.

    /usr/bin/python3 bench/query_export_bench.py [--exe build/tools/tabrix-export]
                                                 [--steps 3000000] [--repeat 5]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv):
    start = time.monotonic()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit('failed: %s\n%s' % (argv[0], proc.stderr.decode(errors='replace')))
    return seconds


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', default=os.path.join(here, '..', 'build', 'tools', 'tabrix-export'))
    parser.add_argument('--steps', type=int, default=3000000)
    parser.add_argument('--repeat', type=int, default=5)
    args = parser.parse_args()
    query = ("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
             "SELECT i, i * 0.5, 'row ' || i FROM n WHERE i %% 1000 = 0" % args.steps)
    with tempfile.TemporaryDirectory() as tmp:
        db = os.path.join(tmp, 'q.db')
        subprocess.run(['sqlite3', db, 'SELECT 1'], check=True, stdout=subprocess.DEVNULL)
        export = [args.exe, db, '--query', query, '-o', os.path.join(tmp, 'q.xlsx')]
        peer = ['sqlite3', '-csv', db, query]
        ours, theirs = [], []
        for _ in range(args.repeat):
            ours.append(timed(export))
            theirs.append(timed(peer))
    a, b = statistics.median(ours), statistics.median(theirs)
    print('tabrix-export to .xlsx: %.3f s (median of %d)' % (a, args.repeat))
    print('sqlite3 -csv:           %.3f s' % b)
    print('ratio:                  %.2fx' % (a / b))


if __name__ == '__main__':
    main()
