#!/usr/bin/python3
"""Time of a table copied into another database against the databases' own bulk loaders.

An SQLite table of N rows (default 1,000,000; id, code INTEGER, name, city, note TEXT,
price, rate REAL, day DATE) is copied with `tabrix-export SOURCE --table t --to database`
into a new SQLite file, and loaded from the same rows as CSV with `sqlite3 .import` into
the same columns. With --postgres URI (a test server: `bash tests/support/postgres_fixture.sh
start DIR`), the copy into PostgreSQL is timed against `psql \\copy` of the CSV too. The
commands run in turn, R times each (default 5), each in its own child process; the median
wall times and their ratios are printed.

    /usr/bin/python3 bench/database_copy_bench.py [--exe build/tools/tabrix-export]
        [--rows 1000000] [--repeat 5] [--postgres postgresql://tabrix@/tabrix?host=DIR]
"""
import argparse
import os
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

COLUMNS = ('id INTEGER, code INTEGER, name TEXT, city TEXT, note TEXT, price REAL, rate REAL, '
           'day DATE')
PG_COLUMNS = ('id bigint, code bigint, name text, city text, note text, price double precision, '
              'rate double precision, day timestamp')


def timed(argv):
    start = time.monotonic()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit('failed: %s\n%s' % (' '.join(argv[:3]), proc.stderr.decode(errors='replace')))
    return seconds


def make_source(path, rows):
    db = sqlite3.connect(path)
    db.execute('CREATE TABLE t (%s)' % COLUMNS)
    db.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
               "INSERT INTO t SELECT i, i % 977, 'name ' || i, 'city ' || (i % 5000), "
               "'a note of row ' || i, i * 0.25, i / 7.0, date('2020-01-01', '+' || (i % 3000) || ' days') "
               "FROM n", (rows,))
    db.commit()
    db.close()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', default=os.path.join(here, '..', 'build', 'tools', 'tabrix-export'))
    parser.add_argument('--rows', type=int, default=1000000)
    parser.add_argument('--repeat', type=int, default=5)
    parser.add_argument('--postgres', help='a PostgreSQL URI to copy into as well')
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='tabrix-copy-bench-') as tmp:
        source, csv = os.path.join(tmp, 'source.db'), os.path.join(tmp, 'rows.csv')
        make_source(source, args.rows)
        with open(csv, 'wb') as out:
            subprocess.run(['sqlite3', '-csv', source, 'SELECT * FROM t'], stdout=out, check=True)
        target = os.path.join(tmp, 'copy.db')
        loaded = os.path.join(tmp, 'loaded.db')

        def ours_sqlite():
            if os.path.exists(target):
                os.remove(target)
            return timed([args.exe, '-q', source, '--table', 't', '--to', 'database', '-o', target,
                          '--into', 't'])

        def theirs_sqlite():
            if os.path.exists(loaded):
                os.remove(loaded)
            return timed(['sqlite3', loaded, 'CREATE TABLE t (%s)' % COLUMNS, '.mode csv',
                          '.import %s t' % csv])

        pairs = [('SQLite', ours_sqlite, theirs_sqlite, 'sqlite3 .import')]
        if args.postgres:
            def ours_pg():
                return timed([args.exe, '-q', source, '--table', 't', '--to', 'database', '-o',
                              args.postgres, '--into', 'bench_copy', '--replace'])

            def theirs_pg():
                return timed(['psql', '-q', '-v', 'ON_ERROR_STOP=1', args.postgres,
                              '-c', 'DROP TABLE IF EXISTS bench_load',
                              '-c', 'CREATE TABLE bench_load (%s)' % PG_COLUMNS,
                              '-c', "\\copy bench_load FROM '%s' csv" % csv])
            pairs.append(('PostgreSQL', ours_pg, theirs_pg, 'psql \\copy'))
        for name, ours, theirs, peer in pairs:
            a, b = [], []
            for _ in range(args.repeat):
                a.append(ours())
                b.append(theirs())
            ma, mb = statistics.median(a), statistics.median(b)
            print('%-10s tabrix-export: %.3f s, %s: %.3f s, ratio %.2fx (medians of %d)'
                  % (name, ma, peer, mb, ma / mb, args.repeat))


if __name__ == '__main__':
    main()
