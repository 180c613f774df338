# Prints what an independent reader takes from a workbook: openpyxl for .xlsx, xlrd for
# .xls. First line: the sheet names and the cell below the frozen rows of the first
# sheet (None when nothing is frozen); then every row of the first sheet, each cell as
# n:NUMBER, d:ISO DATE OR TIME, b:True or b:False, s:TEXT or - for an empty cell.
import datetime
import sys

name = sys.argv[1]
rows = []
if name.endswith(".xlsx"):
    import openpyxl

    book = openpyxl.load_workbook(name)
    sheet = book.worksheets[0]
    print(book.sheetnames, sheet.freeze_panes)
    for row in sheet.iter_rows():
        cells = []
        for value in (c.value for c in row):
            if value is None:
                cells.append("-")
            elif isinstance(value, (datetime.datetime, datetime.time)):
                cells.append("d:" + value.isoformat())
            elif isinstance(value, bool):
                cells.append("b:" + str(value))
            elif isinstance(value, (int, float)):
                cells.append("n:" + repr(float(value)))
            else:
                cells.append("s:" + value)
        rows.append(cells)
else:
    import xlrd

    book = xlrd.open_workbook(name, formatting_info=True)
    sheet = book.sheet_by_index(0)
    frozen = "A%d" % (sheet.horz_split_pos + 1) if sheet.panes_are_frozen else None
    print(book.sheet_names(), frozen)
    for r in range(sheet.nrows):
        cells = []
        for cell in sheet.row(r):
            if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                cells.append("-")
            elif cell.ctype == xlrd.XL_CELL_DATE:
                if cell.value < 1:
                    t = xlrd.xldate_as_tuple(cell.value, book.datemode)
                    cells.append("d:" + datetime.time(*t[3:]).isoformat())
                else:
                    cells.append("d:" + xlrd.xldate_as_datetime(cell.value, book.datemode).isoformat())
            elif cell.ctype == xlrd.XL_CELL_NUMBER:
                cells.append("n:" + repr(cell.value))
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                cells.append("b:" + str(bool(cell.value)))
            else:
                cells.append("s:" + cell.value)
        rows.append(cells)
for cells in rows:
    print(" | ".join(cells))
