"""The python-docx peer of word_server_bench: the same document built with python-docx.

usage: word_server_bench_docx.py PICTURE_DIR COUNT OUT.docx
Pictures are PICTURE_DIR/pic<i>.bmp for i in 0 .. COUNT-1.
"""
import os
import sys

import docx
from docx.shared import Pt


def main():
    folder, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    doc = docx.Document()
    for line in ("Tabrix 4.61", "Pictures", ""):
        doc.add_paragraph(line)
    table = doc.add_table(rows=1, cols=2)
    table.style = "Table Grid"
    table.cell(0, 0).text = "Picture filename"
    table.cell(0, 1).text = "Picture"
    for i in range(count):
        name = os.path.join(folder, "pic%d.bmp" % i)
        row = table.add_row()
        row.cells[0].text = os.path.basename(name)
        # 640 px at 96 dpi is 480 pt, wider than the cell: scaled to the cell as the native server does
        row.cells[1].paragraphs[0].add_run().add_picture(name, width=Pt(223.2))
    doc.add_paragraph("Footer")
    doc.save(out)


if __name__ == "__main__":
    main()
