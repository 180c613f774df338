#!/usr/bin/python3
"""Time and peak memory of the picture export against python-docx.

Generates N (default 100) 640 x 480 24-bit bitmaps, then builds the same document
(three header lines, a table with a caption row and one row per picture: the file
name and the picture) with tabrix-pictures (as .docx and as .doc/RTF) and with
python-docx, each in its own child process, and prints wall time and peak resident
memory (the child's max RSS from wait4) of every run.

    /usr/bin/python3 bench/pictures_bench.py [--exe build/tools/tabrix-pictures]
                                             [--count 100] [--repeat 3]

Uses the system's Python (python3-docx is a Debian package); `zip -1` of the same files
is timed too when zip is installed.
"""
import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

PYTHON_DOCX_SCRIPT = r'''
import os, sys
from docx import Document
from docx.shared import Pt
out, pictures = sys.argv[1], sys.argv[2:]
doc = Document()
doc.add_paragraph("Tabrix suite: https://tabrix.example.org")
doc.add_paragraph("Picture exporting")
doc.add_paragraph("")
table = doc.add_table(rows=1, cols=2)
table.rows[0].cells[0].text = "Picture filename"
table.rows[0].cells[1].text = "Picture"
for path in pictures:
    cells = table.add_row().cells
    cells[0].text = os.path.basename(path)
    cells[1].paragraphs[0].add_run().add_picture(path)
doc.save(out)
'''


def make_row_pool(width, count=256):
    """Rows of a smooth gradient with some noise, so that pictures compress about as
    well as photographs do rather than as flat colour."""
    rnd = random.Random(1)
    pool = []
    for r in range(count):
        noise = rnd.randbytes(width * 3)
        pool.append(bytes(((x * 3 + c * 85 + r) & 255) ^ (noise[x * 3 + c] & 31)
                          for x in range(width) for c in range(3)))
    return pool


def write_bmp(path, width, height, seed, pool):
    """A 24-bit bottom-up bitmap; the seed picks its rows from the pool."""
    row_size = (width * 3 + 3) & ~3
    padding = bytes(row_size - width * 3)
    rnd = random.Random(seed)
    rows = [pool[(y + rnd.randrange(16)) % len(pool)] + padding for y in range(height)]
    pixels = b''.join(rows)
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + pixels)


def measure(argv, cwd):
    """Runs argv; returns (seconds, max RSS in MiB, exit code)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors='replace')
    proc.stderr.close()
    if proc.returncode != 0:
        sys.exit('failed: %s\n%s' % (' '.join(argv[:3]), err))
    return seconds, usage.ru_maxrss / 1024.0, proc.returncode


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', default=os.path.join(here, '..', 'build', 'tools', 'tabrix-pictures'))
    parser.add_argument('--count', type=int, default=100)
    parser.add_argument('--repeat', type=int, default=3)
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    if not os.access(exe, os.X_OK):
        sys.exit('no tabrix-pictures at %s (build it first or pass --exe)' % exe)

    with tempfile.TemporaryDirectory(prefix='tabrix-bench-') as work:
        pictures = []
        pool = make_row_pool(640)
        for i in range(args.count):
            path = os.path.join(work, 'picture%03d.bmp' % i)
            write_bmp(path, 640, 480, i, pool)
            pictures.append(path)
        total_mib = sum(os.path.getsize(p) for p in pictures) / 2**20
        print('%d pictures, 640 x 480 x 24 bit, %.1f MiB of bitmaps; median of %d runs'
              % (args.count, total_mib, args.repeat))

        zip_path = os.path.join(work, 'pictures.zip')

        def zip_argv():
            if os.path.exists(zip_path):
                os.remove(zip_path)
            return ['zip', '-1', '-q', '-j', zip_path] + pictures

        runs = {
            'tabrix-pictures -> .docx': lambda: [exe, '-o', os.path.join(work, 'tabrix.docx')] + pictures,
            'tabrix-pictures -> .doc (RTF)': lambda: [exe, '-o', os.path.join(work, 'tabrix.doc')] + pictures,
            'python-docx -> .docx': lambda: ['/usr/bin/python3', '-c', PYTHON_DOCX_SCRIPT,
                                             os.path.join(work, 'python.docx')] + pictures,
        }
        if shutil.which('zip'):
            runs['zip -1 of the bitmaps'] = zip_argv
        outputs = {'tabrix-pictures -> .docx': 'tabrix.docx', 'tabrix-pictures -> .doc (RTF)': 'tabrix.doc',
                   'python-docx -> .docx': 'python.docx', 'zip -1 of the bitmaps': 'pictures.zip'}
        print('%-32s %10s %14s %12s' % ('run', 'time (s)', 'max RSS (MiB)', 'file (MiB)'))
        for name, argv in runs.items():
            times, rss = [], []
            for _ in range(args.repeat):
                seconds, mib, _ = measure(argv(), work)
                times.append(seconds)
                rss.append(mib)
            size = os.path.getsize(os.path.join(work, outputs[name])) / 2**20
            print('%-32s %10.2f %14.1f %12.1f' % (name, statistics.median(times), statistics.median(rss), size))


if __name__ == '__main__':
    main()
