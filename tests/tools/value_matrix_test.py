#!/usr/bin/python3
"""Every kind of value at its edges, exported by tabrix-export to every table type, read back
by a reader of another maker and compared value by value with the source.

A value that comes back changed passes only when the run said so: a warning or a refusal on
standard error naming its column ("field NAME", "column NAME", or the column's number). A
refused column is exported again without it. Any other difference fails, printed as
format x column x row x sent x got, unless KNOWN lists that (format, column) as an exporter
fault still open.

Usage: value_matrix_test.py TABRIX_EXPORT [POSTGRES_CONNECTION_FILE]
The PostgreSQL rows run when the connection file (written by the ctest fixture) exists.
VALUE_MATRIX_VERBOSE=1 prints the announced differences too.
"""
import base64, csv, datetime as dt, html, html5lib, json, os, re, shutil, sqlite3, struct
import subprocess, sys, tempfile, unicodedata
import xml.etree.ElementTree as ET
from decimal import Decimal
from pathlib import Path

# Unannounced differences that are exporter faults still open: (format, column): reason.
KNOWN = {}

# ---------------------------------------------------------------------------------------
# The source: one table of awkward values among real-looking rows, and a view adding an
# untyped column (a sum) whose first value is NULL and the others numbers.

COLUMNS = [("id", "INTEGER", "int"), ("qty", "INTEGER", "int"), ("price", "REAL", "real"),
           ("amount", "NUMERIC(10,2)", "dec"), ("note", "TEXT", "text"), ("raw", "BLOB", "blob"),
           ("born", "DATE", "date"), ("clock", "TIME", "time"), ("seen", "DATETIME", "datetime"),
           ("stamp", "TIMESTAMP", "datetime"), ("paid", "BOOLEAN", "bool")]
KIND = {name: kind for name, _, kind in COLUMNS} | {"running": "real"}
ROWS = [  # qty, price, amount, note, raw, born, clock, seen, stamp, paid
    (3, 0.30000000000000004, "59.97", "Zoë Ångström", b"\x00\x01\xff\x00", "1850-06-01", "09:30:00",
     "1850-06-01 13:45:00", "2024-06-30 12:00:00.123456", 1),
    (2**53 + 1, 2.2250738585072014e-308, "12.34", "東京都千代田区丸の内 1-9-1", None, "1899-12-29",
     "23:59:59.9996", "1899-12-29 06:00:00", "2024-02-29 13:45:00", 0),
    (-2**63, 1e15, "-0.01", "😀 party 🎉", b"", "1899-12-30", "00:00:00", "1899-12-29 23:59:59.9999",
     "1900-01-01 00:00:00", None),
    (2**63 - 1, -0.0, "99999999.99", "e\u0301 and a\u0308 (combining)", b"\x89PNG\r\n\x1a\n", "1899-12-31",
     "12:00:00.5", "0050-03-01 23:59:59.9999", "1900-02-28 18:00:00", 1),
    (0, 1234.5, "0.10", "\tleading tab", None, "1900-01-01", "06:30:15", "1900-01-01 00:00:00",
     "1900-03-01 00:00:01", 0),
    (-1, 19.99, "0.00", "\x0bvertical tab", None, "1900-02-28", "23:59:59", "1899-12-30 12:00:00",
     "2024-12-31 23:59:59.9996", 1),
    (42, 0.1, "-99999999.99", "   three blanks first", None, "1900-03-01", "00:00:00.001",
     "2000-01-01 00:00:00.001", "1970-01-01 00:00:00", 1),
    (2**31, 123456.789, "1234.50", "trailing blanks   ", None, "0050-03-01", "13:45:00.123456",
     "1900-02-28 23:59:59", "1582-10-15 08:00:00", 0),
    (-2**31 - 1, 3.141592653589793, "7.05", "Smith, John", None, "2024-02-29", "18:00:00",
     "1899-12-31 00:00:00", "2038-01-19 03:14:08", 1),
    (2**53, -2.5, "250.00", 'say "cheese"', None, "9999-12-31", "07:00:00", "2024-06-30 00:00:00",
     "9999-12-31 23:59:59", 1),
    (123456789012345, 1e16, "3.33", "two\nlines", None, "1970-01-01", "20:15:00", "1985-07-04 16:20:00",
     "2001-09-09 01:46:40", 0),
    (1234567890123456, 1e-05, "1.01", "crlf\r\nline", None, "1582-10-15", "11:11:11", "1950-05-05 05:05:05",
     "1999-12-31 23:59:59", None),
    (7, 88.8, "88.80", "bell\x07 and unit\x1f separator", None, "2010-10-10", "10:10:10",
     "2010-10-10 10:10:10", "2010-10-10 10:10:10", 1),
    (12, 4.75, "57.00", "", None, "2012-12-12", "12:12:12", "2012-12-12 12:12:12", "2012-12-12 12:12:12", 0),
    (5, 9.5, "47.50", None, None, None, None, None, None, None),
    (1, 2.25, "2.25", ":colon first", None, "2015-03-14", "15:09:26", "2015-03-14 15:09:26",
     "2015-03-14 15:09:26", 1),
    (2, 14.0, "28.00", "<angle first", None, "2016-07-01", "08:00:00", "2016-07-01 08:00:00",
     "2016-07-01 08:00:00", 1),
    (9, 1.5, "13.50", "=SUM(A1:A2)", None, "2017-01-31", "17:00:00", "2017-01-31 17:00:00",
     "2017-01-31 17:00:00", 0),
    (100, 0.99, "99.00", "000123", None, "2018-08-08", "09:00:00", "2018-08-08 09:00:00",
     "2018-08-08 09:00:00", 1),
    (3, 0.5, "1.50", "1.10", None, "2019-11-11", "11:00:00", "2019-11-11 11:00:00", "2019-11-11 11:00:00", 1),
    (10, 12.5, "125.00", "O'Brien & Sons <b>Ltd</b>; Dublin", None, "2020-02-29", "13:00:00",
     "2020-02-29 13:00:00", "2020-02-29 13:00:00", 0),
    (4, 33.25, "133.00", "Müller-Lüdenscheidt GmbH, Friedrichstraße 12, 10117 Berlin, Lieferung frei "
     "Haus bis zur Rampe, Anlieferung werktags zwischen 8 und 16 Uhr", None, "2021-05-17", "14:30:00",
     "2021-05-17 14:30:00", "2021-05-17 14:30:00", 1),
    (6, 7.0, "42.00", "naïve café – “quoted” — ½ €", None, "2022-09-30", "16:45:00", "2022-09-30 16:45:00",
     "2022-09-30 16:45:00", 0),
    (8, 2.0, "16.00", "Ελληνικά / Русский / עברית / العربية", None, "2023-03-03", "03:03:03",
     "2023-03-03 03:03:03", "2023-03-03 03:03:03", 1),
]


def make_source(path):
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE awkward (%s)" % ", ".join(f"{n} {t}" for n, t, _ in COLUMNS))
    db.executemany("INSERT INTO awkward VALUES (%s)" % ",".join("?" * len(COLUMNS)),
                   [(i + 1,) + r for i, r in enumerate(ROWS)])
    db.execute("CREATE VIEW matrix AS SELECT a.*, (SELECT sum(b.id) * 0.25 FROM awkward b WHERE b.id < a.id)"
               " AS running FROM awkward a")
    db.commit()
    names = [d[0] for d in db.execute("SELECT * FROM matrix").description]
    rows = [list(r) for r in db.execute("SELECT * FROM matrix ORDER BY id")]
    for r in rows:  # the amounts as written, not as SQLite's NUMERIC affinity keeps them
        r[3] = Decimal(ROWS[r[0] - 1][2])
    return names, rows


# ---------------------------------------------------------------------------------------
# Readers: each takes the file and the exported columns and gives rows of cells (None for
# a null, MISSING for a cell the file lacks); a caption row may come first.

MISSING = "<missing>"


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=120, **kw)


def checked(cmd, **kw):
    p = run(cmd, **kw)
    if p.returncode:
        raise RuntimeError(f"{cmd[0]}: {p.stderr.strip()}")
    return p.stdout


def read_delimited(path, cols, delimiter=",", quoting=csv.QUOTE_MINIMAL):
    with open(path, newline="", encoding="utf-8", errors="surrogateescape") as f:
        return list(csv.reader(f, delimiter=delimiter, quoting=quoting))


def read_json(path, cols, lines=False):
    with open(path, encoding="utf-8") as f:
        objects = [json.loads(line) for line in f if line.strip()] if lines else json.load(f)
    return [[o.get(c, MISSING) for c in cols] for o in objects]


def read_html(path, cols):
    def text(e):
        return (e.text or "") + "".join(("\n" if c.tag == "br" else text(c)) + (c.tail or "") for c in e)
    with open(path, "rb") as f:
        doc = html5lib.parse(f, transport_encoding="utf-8", namespaceHTMLElements=False)
    return [[None if "null" in (td.get("class") or "").split() else text(td) for td in tr if td.tag in ("td", "th")]
            for tr in doc.iter("tr")]


def read_document(path, cols):  # pandoc makes HTML of the document's table
    checked(["pandoc", str(path), "-t", "html", "-o", str(path) + ".html"])
    return read_html(str(path) + ".html", cols)


def read_xml(path, cols):
    checked(["xmllint", "--noout", "--schema", str(SOURCE_DIR / "cellfile/tabrix-table.xsd"), str(path)])
    root = ET.parse(path).getroot()
    tags = {c.get("caption"): c.get("name") for c in root.find("columns")}
    value = lambda e: None if e.get("null") == "true" else \
        base64.b64decode(e.text or "") if e.get("encoding") == "base64" else e.text or ""
    return [[{e.tag: value(e) for e in row}.get(tags.get(c), MISSING) for c in cols] for row in root.find("rows")]


def read_sqlite(path, cols, script=None, table="vm"):
    db = sqlite3.connect(":memory:" if script else path)
    if script:
        with open(script, encoding="utf-8", newline="") as f:  # a CR inside a string stays
            db.executescript(f.read())
    db.text_factory = lambda b: b.decode("utf-8", "surrogateescape")
    cur = db.execute(f'SELECT * FROM "{table}" ORDER BY rowid')
    names = [d[0] for d in cur.description]
    return [[r[names.index(c)] if c in names else MISSING for c in cols] for r in cur]


def psql(*args):
    env = dict(os.environ, PGOPTIONS="-c search_path=" + PG.get("schema", "public"), PGCLIENTENCODING="UTF8")
    return checked(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", PG["host"], "-p", PG["port"],
                    "-U", PG["user"], "-d", PG["dbname"], *args], env=env)


def read_postgres(table, cols, script=None):
    if script:
        psql("-f", str(script))
    out = psql("-At", "-c", f'SELECT row_to_json(t) FROM "{table}" t')
    return [[o.get(c, MISSING) for c in cols] for o in map(json.loads, out.splitlines())]


def read_spreadsheet(path, cols):  # Gnumeric's cell values, not their display
    checked(["ssconvert", "-T", "Gnumeric_stf:stf_assistant", "-O", "format=raw separator=, eol=unix",
             str(path), str(path) + ".csv"])
    return read_delimited(str(path) + ".csv", cols)


def read_quattro(path, cols):
    """WQ1 holds WK1's records under Quattro Pro's BOF version 0x5120; Gnumeric reads the records
    once the version says WK1. (LibreOffice's Quattro filter keeps 8 digits and cuts labels.)"""
    data = bytearray(Path(path).read_bytes())
    if data[:6] != b"\x00\x00\x02\x00\x20\x51":
        raise RuntimeError(f"not a Quattro Pro BOF: {bytes(data[:6]).hex()}")
    Path(str(path) + ".wk1").write_bytes(data[:4] + b"\x06\x04" + data[6:])
    return read_spreadsheet(str(path) + ".wk1", cols)


ODF = {k: "{urn:oasis:names:tc:opendocument:xmlns:%s:1.0}" % k for k in ("office", "table", "text")}


def read_libreoffice(path, cols):
    """The cells of the flat ODF copy LibreOffice made of the file (of all such files at once)."""
    O, T, X = ODF["office"], ODF["table"], ODF["text"]

    def text(e):
        return (e.text or "") + "".join((" " * int(c.get(X + "c", 1)) if c.tag == X + "s" else "\t"
                                         if c.tag == X + "tab" else "\n" if c.tag == X + "line-break"
                                         else text(c)) + (c.tail or "") for c in e)

    def value(tc):
        kind = tc.get(O + "value-type")
        if kind == "time":
            h, m, s = re.match(r"PT(\d+)H(\d+)M([\d.]+)S", tc.get(O + "time-value")).groups()
            return dt.timedelta(hours=int(h), minutes=int(m), seconds=float(s))
        return {None: None, "string": "\n".join(text(p) for p in tc.iter(X + "p")), "date": tc.get(O + "date-value"),
                "boolean": tc.get(O + "boolean-value") == "true"}.get(kind, tc.get(O + "value"))
    return [sum(([value(tc)] * min(int(tc.get(T + "number-columns-repeated", 1)), len(cols)) for tc in tr), [])
            for tr in ET.parse(Path(path).with_suffix(".fods")).getroot().iter(T + "table-row")]


def libreoffice(paths, work):
    for _ in range(2):  # a first start on a new profile may end before it converts
        if all(Path(p).with_suffix(".fods").exists() for p in paths):
            break
        run(["soffice", f"-env:UserInstallation=file://{work}/lo-profile", "--headless", "--convert-to", "fods",
             "--outdir", str(work), *paths])


def read_dbf(path, cols):
    import dbfread
    cpg = Path(path).with_suffix(".cpg")
    table = dbfread.DBF(str(path), encoding=cpg.read_text().strip() if cpg.exists() else None,
                        char_decode_errors="surrogateescape")
    return [[r.get(c[:10], MISSING) for c in cols] for r in table]


def read_spss(path, cols):
    checked(["pspp-convert", str(path), str(path) + ".csv"])
    return [["" if v == " " else v for v in r] for r in read_delimited(str(path) + ".csv", cols)]  # " ": missing


def read_xls(path, cols):
    import xlrd
    book = xlrd.open_workbook(str(path))
    value = lambda c: xlrd.xldate_as_datetime(c.value, book.datemode) if c.ctype == xlrd.XL_CELL_DATE else \
        {xlrd.XL_CELL_EMPTY: None, xlrd.XL_CELL_BLANK: None, xlrd.XL_CELL_BOOLEAN: bool(c.value)}.get(c.ctype, c.value)
    sheet = book.sheet_by_index(0)
    return [[value(c) for c in sheet.row(r)] for r in range(sheet.nrows)]


def read_xlsx(path, cols):
    import openpyxl
    sheet = openpyxl.load_workbook(str(path)).worksheets[0]
    # openpyxl 3.0 leaves the _xHHHH_ escapes of control characters undecoded.
    unescape = lambda v: re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m[1], 16)), v) if isinstance(v, str) else v
    return [[unescape(v) for v in r] for r in sheet.iter_rows(values_only=True)]


def read_pdf(path, cols):
    """The words of the text layer in three orders: as read, and down each left and each right
    edge, where the lines of a wrapped cell follow each other."""
    words = [(page, float(x0), float(x1), float(y0), html.unescape(text))
             for page, part in enumerate(checked(["pdftotext", "-bbox", str(path), "-"]).split("<page "))
             for x0, y0, x1, text in re.findall(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)"[^>]*>(.*?)</', part)]
    orders = (words, sorted(words, key=lambda w: (w[0], round(w[1]), w[3])),
              sorted(words, key=lambda w: (w[0], round(w[2]), w[3])))
    return [plain("".join(w[4] for w in order)) for order in orders]


def plain(text):  # pdftotext marks right-to-left runs (U+202B, U+202C), shapes Arabic letters and
    # gives the words of a right-to-left run in the order they are drawn (compared both ways)
    return "".join(c for c in unicodedata.normalize("NFKC", text) if unicodedata.category(c) != "Cf")


def read_ldif(path, cols):
    import ldif
    with open(path, "rb") as f:
        parser = ldif.LDIFRecordList(f)
        parser.parse()
    value = lambda c, v: None if v is None else v[0] if KIND[c] == "blob" else v[0].decode("utf-8", "surrogateescape")
    return [[value(c, entry.get(c)) for c in cols] for _, entry in parser.all_records]


def read_paradox(path, cols):
    """A Paradox table after the published layout of its header and data blocks."""
    data = Path(path).read_bytes()
    record_size, header_size = struct.unpack_from("<HH", data, 0)
    count, = struct.unpack_from("<H", data, 0x21)
    fields = [(data[0x78 + 2 * i], data[0x79 + 2 * i]) for i in range(count)]
    at = 0x78 + 6 * count + 4 + (261 if data[0x39] >= 12 else 79)  # after the table's name
    names = [n.decode("cp1252") for n in data[at:header_size].split(b"\0")[:count]]
    codepage, = struct.unpack_from("<H", data, 0x6A)

    def integer(b):  # big-endian, sign bit flipped; all zero is null
        return int.from_bytes(bytes([b[0] ^ 0x80]) + b[1:], "big", signed=True) if any(b) else None

    def number(b):  # the same for doubles, whose negatives have every bit inverted
        b = bytes([b[0] ^ 0x80]) + b[1:] if b[0] & 0x80 else bytes(x ^ 0xFF for x in b)
        return struct.unpack(">d", b)[0]

    def value(kind, b):
        if not any(b):
            return None
        if kind == 0x01:
            return b.rstrip(b"\0").decode(f"cp{codepage}", "surrogateescape")
        if kind == 0x09:
            return b[0] == 0x81
        return {0x02: lambda: dt.datetime(1, 1, 1) + dt.timedelta(days=integer(b) - 1),
                0x14: lambda: dt.timedelta(milliseconds=integer(b)),
                0x15: lambda: dt.datetime(1, 1, 1) + dt.timedelta(milliseconds=number(b) - 86400000),
                0x05: lambda: number(b), 0x06: lambda: number(b)}.get(kind, lambda: integer(b))()

    rows, block = [], struct.unpack_from("<H", data, 0x0E)[0]
    while block:
        at = header_size + (block - 1) * data[5] * 1024
        block, _, last = struct.unpack_from("<HHh", data, at)
        for record in range(at + 6, at + 6 + last + 1 if last >= 0 else at + 6, record_size):
            cells, offset = {}, record
            for name, (kind, size) in zip(names, fields):
                cells[name], offset = value(kind, data[offset:offset + size]), offset + size
            rows.append([cells.get(c, MISSING) for c in cols])
    return rows


# ---------------------------------------------------------------------------------------
# The table types: format, file (None: the PostgreSQL server), arguments, reader, and how
# the reader shows values: nulls (False: a null and an empty text look alike), unit (the
# finest time the format keeps, in microseconds), strict (kinds that must not come back as
# text), digits (significant digits the reader keeps), ws (white space collapsed), crlf (a
# CR read as a line break), surrogates (an RTF surrogate pair read as two U+FFFD), serial
# (numbers in date columns are 1900-system serials), split (a value holding the delimiter
# splits its row), presence (text presence only).

TEXT, MS, SECOND = 1, 1000, 10**6
LO = 20000  # LibreOffice's flat ODF cuts date-times to the hundredth of a second
NUMBERS, CELLS = {"int", "real", "dec", "bool"}, {"int", "real", "dec", "date", "time", "datetime"}
FORMATS = [
    ("csv", "csv.csv", [], read_delimited, "Python csv", dict(nulls=False, unit=TEXT)),
    ("tsv", "tsv.tsv", [], lambda p, c: read_delimited(p, c, "\t"), "Python csv", dict(nulls=False, unit=TEXT)),
    ("txt", "txt.txt", [], lambda p, c: read_delimited(p, c, "\t", csv.QUOTE_NONE), "Python csv",
     dict(nulls=False, unit=TEXT, split=True)),
    ("json", "json.json", [], read_json, "Python json", dict(unit=TEXT, strict=NUMBERS)),
    ("jsonl", "jsonl.jsonl", [], lambda p, c: read_json(p, c, True), "Python json", dict(unit=TEXT, strict=NUMBERS)),
    ("html", "html.html", [], read_html, "html5lib", dict(unit=TEXT, crlf=True)),
    ("xml", "xml.xml", [], read_xml, "xmllint, etree", dict(unit=TEXT)),
    ("sql", "sql.sql", ["--table-name", "vm"], lambda p, c: read_sqlite(None, c, script=p), "sqlite3",
     dict(unit=TEXT, strict=NUMBERS - {"bool"})),
    ("sql-pg", "psql.sql", ["--table-name", "vm_sql"], lambda p, c: read_postgres("vm_sql", c, script=p), "psql",
     dict(unit=TEXT, strict=NUMBERS, postgres=True)),
    ("slk", "slk.slk", [], read_libreoffice, "soffice", dict(nulls=False, unit=LO, digits=15)),
    ("dif", "dif.dif", [], read_libreoffice, "soffice", dict(nulls=False, unit=TEXT, digits=15)),
    ("dbf", "dbf.dbf", [], read_dbf, "dbfread", dict(unit=MS, strict=NUMBERS)),
    ("sav", "sav.sav", [], read_spss, "pspp-convert", dict(nulls=False, unit=SECOND)),
    ("wk1", "wk1.wk1", [], read_spreadsheet, "ssconvert", dict(nulls=False, unit=MS, serial=True)),
    ("wq1", "wq1.wq1", [], read_quattro, "ssconvert", dict(nulls=False, unit=MS, serial=True)),
    ("xls", "xls.xls", [], read_xls, "xlrd", dict(unit=MS, strict=CELLS)),
    ("xlsx", "xlsx.xlsx", [], read_xlsx, "openpyxl", dict(unit=MS, strict=CELLS)),
    ("rtf", "rtf.rtf", [], read_document, "pandoc", dict(nulls=False, unit=TEXT, ws=True, surrogates=True)),
    ("docx", "docx.docx", [], read_document, "pandoc", dict(nulls=False, unit=TEXT, ws=True)),
    ("pdf", "pdf.pdf", [], read_pdf, "pdftotext", dict(presence=True)),
    ("ldif", "ldif.ldif", [], read_ldif, "python-ldap", dict(unit=TEXT)),
    ("paradox", "paradox.db", ["--to", "paradox"], read_paradox, "layout reader", dict(unit=MS, strict=NUMBERS | CELLS)),
    ("db-sqlite", "database.sqlite", ["--to", "database", "--into", "vm"], read_sqlite, "sqlite3",
     dict(unit=MS, strict=NUMBERS - {"bool"})),
    ("db-postgresql", None, ["--to", "database"], lambda p, c: read_postgres("vm", c), "psql",
     dict(unit=MS, strict=NUMBERS, postgres=True)),
]

# ---------------------------------------------------------------------------------------
# The comparison: one function, bringing what a reader gives to the kind of the source column.

DAY = 86400 * 10**6
ISO = re.compile(r"(-?\d{4,})-(\d\d)-(\d\d)(?:[T ](\d\d):(\d\d)(?::(\d\d)(\.\d+)?)?)?|(\d\d):(\d\d):(\d\d)(\.\d+)?")


def microseconds(kind, v, traits):
    """A date or date-time as microseconds since 0001-01-01; a time of day from midnight."""
    if isinstance(v, dt.timedelta):
        return v // dt.timedelta(microseconds=1)
    if isinstance(v, dt.datetime):
        return (v - dt.datetime(1, 1, 1)) // dt.timedelta(microseconds=1)
    if isinstance(v, dt.date):
        return (v.toordinal() - 1) * DAY
    if isinstance(v, dt.time):
        return ((v.hour * 60 + v.minute) * 60 + v.second) * 10**6 + v.microsecond
    if isinstance(v, (int, float)) or traits.get("serial") and re.fullmatch(r"-?[\d.]+(e-?\d+)?", v):
        serial = float(v)  # the 1900 date system, which has a 29 February 1900
        if kind == "time" and 0 <= serial < 1:
            return round(serial * DAY)
        return (dt.date(1899, 12, 30).toordinal() - 1) * DAY + round((serial + (serial < 60)) * DAY)
    v = re.sub(r"^(\d\d)/(\d\d)/(\d{4})", r"\3-\1-\2", v.strip())  # PSPP shows mm/dd/yyyy
    y, mo, d, h, mi, s, frac, th, tm, ts, tfrac = ISO.fullmatch(v).groups()
    days = dt.date(int(y), int(mo), int(d)).toordinal() - 1 if y else 0
    time = dt.time(int(h or th or 0), int(mi or tm or 0), int(s or ts or 0))  # refuses 24:00:00
    return days * DAY + microseconds(kind, time, traits) + round(float(frac or tfrac or 0) * 10**6)


def number(v):
    return Decimal(repr(v)) if isinstance(v, float) else Decimal(int(v)) if isinstance(v, bool) else \
        Decimal(v.strip() if isinstance(v, str) else v)


def same(kind, sent, got, traits):
    if got is MISSING:
        return False
    if sent is None or (sent in ("", b"") and not traits.get("nulls", True)):
        return got is None or not traits.get("nulls", True) and got in ("", b"")
    if got is None or isinstance(got, str) and kind in traits.get("strict", ()):
        return False
    try:
        if kind in ("int", "real", "dec"):
            if traits.get("digits"):
                return f"{float(got):.{traits['digits'] - 1}e}" == f"{float(sent):.{traits['digits'] - 1}e}"
            # A decimal may come back as the double nearest to it.
            return number(got) == number(sent) or kind != "int" and float(got) == float(sent)
        if kind == "bool":
            if isinstance(got, str):
                got = {"true": 1, "t": 1, "yes": 1, "false": 0, "f": 0, "no": 0}.get(got.strip().lower(), got)
            return number(got) in (0, 1, -1) and bool(number(got)) == bool(sent)
        if kind == "blob":
            if isinstance(got, (bytes, memoryview)):
                return bytes(got) == sent
            hexed = got[2:] if got.startswith("\\x") else None  # PostgreSQL's bytea
            return got.encode("utf-8", "surrogateescape") == sent or hexed is not None and bytes.fromhex(hexed) == sent
        if kind in ("date", "time", "datetime"):
            a, b = microseconds(kind, sent, traits), microseconds(kind, got, traits)
            # Far from 1899-12-30 a serial's double holds steps of 10 to 100 microseconds, and
            # LibreOffice's flat ODF keeps only tenths of a second of it.
            far = kind != "time" and not 1720 <= int(sent[:4]) <= 2079
            unit = traits["unit"] if not far else max(traits["unit"], 200000 if traits["unit"] == LO else 100)
            diff = abs(a - b) % DAY if kind == "time" else abs(a - b)  # a time's rounding may wrap at midnight
            return (kind != "date" or b % DAY == 0) and min(diff, DAY - diff if kind == "time" else diff) <= unit / 2
        if kind == "text":
            if traits.get("crlf"):
                sent = sent.replace("\r\n", "\n").replace("\r", "\n")
            if traits.get("surrogates"):
                sent = re.sub("[\U00010000-\U0010FFFF]", "\ufffd\ufffd", sent)
            if traits.get("ws"):
                sent, got = (unicodedata.normalize("NFC", " ".join(t.split())) for t in (sent, got))
            return got == sent
    except (ValueError, ArithmeticError, TypeError, AttributeError):
        return False
    raise AssertionError(kind)


# ---------------------------------------------------------------------------------------
# The runs, their announcements, and the matrix.

REFERENCE = re.compile(r"\b(?:field|column) ([^\s,:;()]+)")


def named_columns(stderr, cols):
    """The columns the lines name, by name or by number (counted from 1)."""
    refs = REFERENCE.findall(stderr)
    return {cols[int(r) - 1] for r in refs if r.isdigit() and 0 < int(r) <= len(cols)} | set(refs) & set(cols)


def export(exe, source, target, args, names, env):
    """Runs an export; gives the columns written, the columns announced and the refused ones."""
    cols, refused, log = list(names), [], ""
    while True:
        what = ["--table", "matrix"] if not refused else ["--query", "SELECT %s FROM matrix" % ", ".join(cols)]
        p = run([exe, "-q", source, *what, "-o", target, *args], env=env)
        log += p.stderr
        if "://" not in target:
            Path(target + ".log").write_text(log)
        if p.returncode == 0:
            return cols, named_columns(p.stderr, cols) | set(refused), refused
        named = sorted(named_columns(p.stderr, cols))
        if not named:
            raise RuntimeError(f"exit {p.returncode}: {p.stderr.strip()}")
        refused.append(named[0])
        cols.remove(named[0])


def compare(fmt, traits, names, rows, cols, got_rows, announced, failures):
    """Compares every cell; gives the counts of values, differences and announced ones, and the
    KNOWN columns met."""
    compared = differences = excused = 0
    known, position = set(), 0
    for sent_row in rows:
        got_row = None  # found by its id, so that a row split in two moves no other row
        for i in range(position, 0 if traits.get("presence") else len(got_rows)):
            if got_rows[i] and same("int", sent_row[0], got_rows[i][0], {}):
                got_row, position = got_rows[i], i + 1
                break
        # In a row split by a value holding the delimiter, the cells after an announced one move.
        split, misshapen = False, traits.get("split") and got_row is not None and len(got_row) != len(cols)
        for name, sent in zip(names, sent_row):
            if traits.get("presence"):  # every word of a text or an integer is in the text layer
                if KIND[name] not in ("text", "int") or sent in (None, ""):
                    continue
                got = "(absent)"
                ok = all(any(plain(w) in t or plain(w)[::-1] in t for t in got_rows) for w in str(sent).split())
            else:
                at = cols.index(name) if name in cols else len(cols)
                got = got_row[at] if got_row is not None and at < len(got_row) else MISSING
                ok = same(KIND[name], sent, got, traits)
            compared += 1
            if ok:
                continue
            differences += 1
            line = f"{fmt} x {name} x row {sent_row[0]} x sent {shown(sent)} x got {shown(got)}"
            if name in announced or split:
                excused += 1
                split = misshapen
                if VERBOSE:
                    print("announced:", line)
            elif (fmt, name) in KNOWN:
                known.add(name)
            else:
                failures.setdefault((fmt, name), []).append(line)
    return compared, differences, excused, known


def shown(v):
    return v if v is MISSING else repr(bytes(v) if isinstance(v, memoryview) else v)


def main():
    exe, connection = sys.argv[1], Path(sys.argv[2]) if len(sys.argv) > 2 else None
    work = Path(tempfile.mkdtemp(prefix="value-matrix."))
    env = dict(os.environ, QT_QPA_PLATFORM=os.environ.get("QT_QPA_PLATFORM", "offscreen"))
    source = str(work / "source.db")
    names, rows = make_source(source)
    if connection and connection.exists():
        PG.update(line.split("=", 1) for line in connection.read_text().split())
        PG["uri"] = f"postgresql://{PG['user']}@/{PG['dbname']}?host={PG['host']}&port={PG['port']}"
        try:
            psql("-c", f"CREATE SCHEMA value_matrix_{os.getpid()}")
            PG["schema"] = f"value_matrix_{os.getpid()}"
        except RuntimeError as e:
            print("PostgreSQL rows skipped:", e)
            PG.clear()
    exported, failures = {}, {}
    for fmt, target, args, _, _, traits in FORMATS:
        if traits.get("postgres") and not PG:
            continue
        target, args = (str(work / target), args) if target else (PG["uri"], args + ["--into", PG["schema"] + ".vm"])
        try:
            exported[fmt] = (target, *export(exe, source, target, args, names, env))
        except RuntimeError as e:
            failures[(fmt, "")] = [f"{fmt}: {e}"]
    libreoffice([exported[f][0] for f, _, _, reader, _, _ in FORMATS if reader is read_libreoffice and f in exported],
                work)
    summary, known = [], set()
    for fmt, _, _, reader, reader_name, traits in FORMATS:
        if fmt not in exported:
            summary.append((fmt, reader_name, "-", "-", "-", "FAILED" if PG or not traits.get("postgres")
                            else "skipped: no PostgreSQL server"))
            continue
        target, cols, announced, refused = exported[fmt]
        try:
            got_rows = reader(target, cols)
        except Exception as e:  # noqa: BLE001 - a file its reader cannot read fails as a whole
            failures[(fmt, "")] = [f"{fmt}: {reader_name}: {type(e).__name__}: {e}"]
            summary.append((fmt, reader_name, "-", "-", "-", "FAILED"))
            continue
        *counts, met = compare(fmt, traits, names, rows, cols, got_rows, announced, failures)
        known |= {(fmt, c) for c in met}
        notes = ["refused: " + ", ".join(refused)] * bool(refused) + ["KNOWN: " + ", ".join(sorted(met))] * bool(met)
        summary.append((fmt, reader_name, *counts, "; ".join(notes)))
    if PG.get("schema"):
        psql("-c", f"DROP SCHEMA {PG['schema']} CASCADE")
    header = ("format", "reader", "values", "differences", "announced", "")
    widths = [max(len(str(r[i])) for r in summary + [header]) for i in range(6)]
    for r in [header] + summary:
        print("  ".join(str(v).rjust(w) if 2 <= i <= 4 else str(v).ljust(w)
                        for i, (v, w) in enumerate(zip(r, widths))).rstrip())
    for key in sorted(set(KNOWN) - known):
        print(f"note: KNOWN {key} no longer differs unannounced; remove it")
    for lines in failures.values():  # three of each format and column
        print("\n".join("FAIL: " + line for line in lines[:3]) + f"\n      ... {len(lines) - 3} more" * (len(lines) > 3))
    print(f"FAILED: {len(failures)} format x column groups; files kept in {work}" if failures else "ok")
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


PG = {}
VERBOSE = os.environ.get("VALUE_MATRIX_VERBOSE") == "1"
SOURCE_DIR = Path(__file__).resolve().parents[2]
if __name__ == "__main__":
    sys.exit(main())
