#!/usr/bin/python3
"""Peak memory of one huge text cell exported to each document and workbook target.

An SQLite file with one row and one TEXT column holding M megabytes (default 300) of
printable ASCII with a line break every 80 characters is made; then, for each target
(.docx, .doc, .rtf, .xlsx, .csv by default), tabrix-export writes it in its own child
process under /usr/bin/time -v. The peak resident size is printed, and how many times
the text's size that is, with the file's size or, for a target that cannot hold such a
cell (an .xlsx cell holds 32,767 characters), the refusal. Nothing is timed against a
peer: this is a probe for the copies of a cell's text a run holds at once.

    /usr/bin/python3 bench/big_cell_bench.py [--exe build/tools/tabrix-export]
                                             [--mb 300] [--targets docx,doc,rtf,xlsx,csv]
"""
import argparse
import os
import re
import sqlite3
import subprocess
import tempfile


def make_db(path, megabytes):
    line = ('0123456789abcdefghijklmnopqrstuvwxyz <&>"\' ' * 2)[:79] + '\n'
    text = line * (megabytes * 1024 * 1024 // len(line))
    con = sqlite3.connect(path)
    con.execute('CREATE TABLE t (body TEXT)')
    con.execute('INSERT INTO t VALUES (?)', (text,))
    con.commit()
    con.close()
    return len(text)


def peak_kb(argv):
    proc = subprocess.run(['/usr/bin/time', '-v'] + argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    report = proc.stderr.decode(errors='replace')
    kb = int(re.search(r'Maximum resident set size \(kbytes\): (\d+)', report).group(1))
    # A target that cannot hold the cell refuses it; its message is the first line.
    return kb, None if proc.returncode == 0 else report.splitlines()[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--exe', default='build/tools/tabrix-export')
    ap.add_argument('--mb', type=int, default=300)
    ap.add_argument('--targets', default='docx,doc,rtf,xlsx,csv')
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(dir=os.environ.get('TMPDIR')) as work:
        db = os.path.join(work, 'big.db')
        size = make_db(db, args.mb)
        print('cell text: %.1f MB' % (size / 1048576))
        for target in args.targets.split(','):
            out = os.path.join(work, 'big.' + target)
            kb, refused = peak_kb([args.exe, db, '--table', 't', '-o', out])
            outcome = refused or 'file %.1f MB' % (os.path.getsize(out) / 1048576)
            print('%-5s peak %8.1f MB  %5.2fx the text  (%s)'
                  % (target + ':', kb / 1024, kb * 1024 / size, outcome))
            if os.path.exists(out):
                os.unlink(out)


if __name__ == '__main__':
    main()
