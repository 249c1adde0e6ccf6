#!/usr/bin/python3
"""Reads an exported file back with the program a person would open it with
and compares every value with what `norvale-cli dump --format json` showed.

usage: export_readback.py FORMAT FILE DUMP.json SCRATCH_DIR

Prints "ok N" and exits 0 when every row matches; otherwise prints the
differences and exits 1. Exits 77 when the reader is not installed.
"""
import csv
import datetime
import glob
import json
import os
import re
import shutil
import subprocess
import sys
from decimal import Decimal, InvalidOperation
from html.parser import HTMLParser

SKIP = 77


def skip(why):
    print("skip: " + why)
    sys.exit(SKIP)


# ------------------------------------------------------------ expectations

def expected(dump):
    fields = [(f["name"], f["type"]) for f in dump["fields"]]
    rows = [r["values"] for r in dump["records"] if not r["deleted"]]
    return fields, rows


def text_form(kind, v, grouped=False):
    """The text a document shows for a dump value."""
    if v is None:
        return ""
    if kind in "NFIBY":
        return None  # compared as numbers
    if kind == "D":
        y, m, d = v.split("-")
        return "%s/%s/%s" % (d, m, y)
    if kind == "L":
        return "True" if v else "False"
    return v.replace("\r\n", "\n")


def as_number(v):
    if v is None or v == "":
        return None
    if isinstance(v, bool):
        return Decimal(int(v))
    if isinstance(v, (int, float)):
        return Decimal(repr(v))
    try:
        return Decimal(str(v).strip().replace(",", ""))
    except InvalidOperation:
        return "bad number %r" % (v,)


def as_date(v, orders):
    if v is None or v == "":
        return None
    if isinstance(v, datetime.datetime):
        return v.date().isoformat()
    if isinstance(v, datetime.date):
        return v.isoformat()
    for order in orders:
        try:
            return datetime.datetime.strptime(str(v).strip(), order).date().isoformat()
        except ValueError:
            pass
    return "bad date %r" % (v,)


def as_logical(v):
    if v is None or v == "":
        return None
    if isinstance(v, bool):
        return v
    if isinstance(v, (int, float)) and v in (0, 1):
        return bool(v)
    s = str(v).strip().lower()
    if s in ("true", "t", "1"):
        return True
    if s in ("false", "f", "0"):
        return False
    return "bad logical %r" % (v,)


def compare(fields, want_rows, got_rows, dates=("%d/%m/%Y", "%Y-%m-%d"), text=lambda s: s, tolerance=Decimal("1e-9")):
    problems = []
    if len(got_rows) != len(want_rows):
        problems.append("%d rows read, %d expected" % (len(got_rows), len(want_rows)))
    for r, (want, got) in enumerate(zip(want_rows, got_rows), 1):
        got = list(got) + [None] * (len(fields) - len(got))
        for (name, kind), w, g in zip(fields, want, got):
            if kind in "NFIBY":
                a, b = as_number(w), as_number(g)
                same = a == b or (isinstance(a, Decimal) and isinstance(b, Decimal) and
                                  abs(a - b) <= tolerance * max(Decimal(1), abs(a)))
            elif kind in "DT":
                a, b = (w[:10] if w else None), as_date(g, dates)
                same = a == b
            elif kind == "L":
                a, b = w, as_logical(g)
                same = a == b
            else:
                a = text(text_form(kind, w))
                b = text("" if g is None else str(g).replace("\r\n", "\n"))
                if kind == "C":
                    a, b = a.rstrip(" "), b.rstrip(" ")
                same = a == b
            if not same:
                problems.append("row %d %s: expected %r, read %r" % (r, name, a, b))
    return problems


# ------------------------------------------------------------ readers

def read_csv(path, header, names):
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    problems = []
    if header:
        if not rows or rows[0] != names:
            problems.append("title line %r" % (rows[:1],))
        rows = rows[1:]
    return rows, problems


def read_xml(path, names):
    if shutil.which("xmllint"):
        check = subprocess.run(["xmllint", "--noout", path], capture_output=True, text=True)
        if check.returncode != 0:
            return [], ["xmllint: " + check.stderr]
    import xml.etree.ElementTree as ET
    root = ET.parse(path).getroot()
    problems = [] if root.tag == "RECORDS" else ["root element %s" % root.tag]
    params = root.find("PARAMS")
    columns = [(f.get("name"), f.get("element")) for f in params.findall("FIELD")]
    if [c[0] for c in columns] != names:
        problems.append("PARAMS names %r" % (columns,))
    rows = []
    for record in root.findall("RECORD"):
        row = record.find("ROW")
        values = []
        for _, element in columns:
            e = row.find(element)
            values.append(None if e is None or e.get("null") == "true" else (e.text or ""))
        rows.append(values)
    return rows, problems


class TableText(HTMLParser):
    def __init__(self):
        super().__init__()
        self.rows, self.cell, self.title = [], None, ""
        self.in_title = False

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag in ("td", "th"):
            self.cell = ""
        elif tag == "br" and self.cell is not None:
            self.cell += "\n"
        elif tag == "title":
            self.in_title = True

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            self.rows[-1].append(self.cell)
            self.cell = None
        elif tag == "title":
            self.in_title = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data
        elif self.in_title:
            self.title += data


def read_html(path, names, title):
    parser = TableText()
    with open(path, encoding="utf-8") as f:
        parser.feed(f.read())
    problems = []
    if parser.title.strip() != title:
        problems.append("title %r" % parser.title)
    if not parser.rows or parser.rows[0] != names:
        problems.append("header row %r" % (parser.rows[:1],))
    return parser.rows[1:], problems


def read_dbf(path, names):
    import dbfread
    table = dbfread.DBF(path, char_decode_errors="replace")
    problems = [] if table.field_names == names else ["fields %r" % table.field_names]
    return [[rec[n] for n in table.field_names] for rec in table], problems


def read_sqlite(path, names, title):
    import sqlite3
    db = sqlite3.connect(path)
    cols = [r[1] for r in db.execute('PRAGMA table_info("%s")' % title)]
    problems = [] if cols == names else ["columns %r" % cols]
    return list(db.execute('SELECT * FROM "%s" ORDER BY rowid' % title)), problems


def read_xlsx(path, names):
    try:
        import openpyxl
    except ImportError:
        skip("python3-openpyxl is not installed")
    book = openpyxl.load_workbook(path, read_only=True)
    rows = []
    problems = []
    for sheet in book.worksheets:
        sheet_rows = [list(r) for r in sheet.iter_rows(values_only=True)]
        if not sheet_rows or sheet_rows[0] != names:
            problems.append("header row of %s: %r" % (sheet.title, sheet_rows[:1]))
        rows += sheet_rows[1:]
    return rows, problems


def read_xls(path):
    try:
        import xlrd
    except ImportError:
        skip("python3-xlrd is not installed")
    book = xlrd.open_workbook(path)
    rows = []
    for sheet in book.sheets():
        for r in range(sheet.nrows):
            row = []
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_DATE:
                    row.append(xlrd.xldate_as_datetime(cell.value, book.datemode))
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    row.append(bool(cell.value))
                elif cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    row.append(None)
                else:
                    row.append(cell.value)
            rows.append(row)
    return rows, []


def office(path, scratch, target):
    soffice = shutil.which("soffice")
    if not soffice:
        skip("LibreOffice is not installed")
    out = os.path.join(scratch, "office")
    os.makedirs(out, exist_ok=True)
    profile = "file://" + os.path.join(scratch, "profile")
    run = subprocess.run([soffice, "-env:UserInstallation=" + profile, "--headless", "--convert-to", target,
                          "--outdir", out, path], capture_output=True, text=True, timeout=300)
    made = glob.glob(os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".*"))
    if run.returncode != 0 or not made:
        return None, ["LibreOffice did not convert %s: %s" % (path, run.stderr)]
    return made[0], []


# Values as cells, UTF-8, with the cells' own values rather than as shown.
OFFICE_CSV = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false"


def read_office_csv(path, scratch):
    converted, problems = office(path, scratch, OFFICE_CSV)
    if not converted:
        return [], problems
    with open(converted, encoding="utf-8", newline="") as f:
        return list(csv.reader(f)), []


def document_cells(fields, rows):
    """Every cell as a document shows it, numbers grouped, in reading order."""
    cells = []
    for row in rows:
        for (name, kind), v in zip(fields, row):
            if kind in "NFIBY":
                if v is None:
                    cells.append("")
                else:
                    decimals = next(f["decimals"] for f in DUMP["fields"] if f["name"] == name)
                    cells.append("{:,.{}f}".format(Decimal(repr(v)), decimals))
            else:
                cells.append(text_form(kind, v))
    return cells


def read_rtf(path, scratch, fields, rows, title):
    converted, problems = office(path, scratch, "txt:Text (encoded):UTF8")
    if not converted:
        return problems
    with open(converted, encoding="utf-8-sig") as f:
        text = f.read().replace("\u2006 ", " ").replace("\r\n", "\n")
    want = "\n".join([title, ""] + [n for n, _ in fields] + document_cells(fields, rows))
    got, want = text.rstrip("\n"), want.rstrip("\n")
    if got == want:
        return []
    w, g = want.split("\n"), got.split("\n")
    for i, (a, b) in enumerate(zip(w, g)):
        if a != b:
            return ["RTF text differs at line %d: expected %r, read %r" % (i + 1, a, b)]
    return ["RTF text has %d lines, %d expected" % (len(g), len(w))]


def read_pdf(path, fields, rows, title):
    if not shutil.which("pdftotext"):
        skip("pdftotext is not installed")
    text = subprocess.run(["pdftotext", "-layout", path, "-"], capture_output=True, text=True).stdout
    problems = []
    if title not in text:
        problems.append("title %r missing" % title)
    for name, _ in fields:
        if name not in text:
            problems.append("column title %s missing" % name)
    # Every row shows its numbers in full and in order.
    lines = [l for l in text.split("\n") if l.strip()]
    at = 0
    cells = document_cells(fields, rows)
    width = len(fields)
    for r in range(len(rows)):
        numbers = [cells[r * width + i] for i, (_, k) in enumerate(fields) if k in "NFIBY" and cells[r * width + i]]
        if not numbers:
            continue
        while at < len(lines) and not all(re.search(r"(^|\s)" + re.escape(n) + r"(\s|$)", lines[at]) for n in numbers):
            at += 1
        if at == len(lines):
            problems.append("row %d (%s) not found in order" % (r + 1, " ".join(numbers)))
            break
        at += 1
    return problems


def read_pgsql(path, scratch, names, title):
    bins = sorted(glob.glob("/usr/lib/postgresql/*/bin"))
    if not bins:
        skip("PostgreSQL is not installed")
    bin_dir = bins[-1]
    import tempfile
    # A folder of its own that the server's user may enter, wherever the
    # test's scratch folder is.
    scratch = tempfile.mkdtemp(prefix="norvale-pg-")
    data = os.path.join(scratch, "pgdata")
    sock = os.path.join(scratch, "pgsock")
    os.makedirs(sock)
    script = os.path.join(scratch, "load.sql")
    shutil.copyfile(path, script)
    path = script
    as_user = []
    if os.geteuid() == 0:
        # The server refuses to run as root.
        import pwd
        user = pwd.getpwnam("postgres")
        for p in (scratch, sock, path):
            os.chown(p, user.pw_uid, user.pw_gid)
        as_user = ["runuser", "-u", "postgres", "--"]

    def run(args, **kw):
        return subprocess.run(as_user + args, capture_output=True, text=True, timeout=120, **kw)

    init = run([bin_dir + "/initdb", "-D", data, "-A", "trust", "-E", "UTF8", "--locale=C"])
    if init.returncode != 0:
        return [], ["initdb: " + init.stderr]
    start = run([bin_dir + "/pg_ctl", "-D", data, "-w", "-l", os.path.join(scratch, "pg.log"), "-o",
                 "-k %s -c listen_addresses=''" % sock, "start"])
    try:
        if start.returncode != 0:
            return [], ["pg_ctl start: " + start.stderr]
        load = run([bin_dir + "/psql", "-h", sock, "-d", "postgres", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", path])
        if load.returncode != 0:
            return [], ["psql: " + load.stderr]
        query = run([bin_dir + "/psql", "-h", sock, "-d", "postgres", "-X", "-At", "-c",
                     'SELECT json_agg(t) FROM "%s" t' % title])
        if query.returncode != 0:
            return [], ["psql query: " + query.stderr]
        records = json.loads(query.stdout) or []
        got_names = list(records[0].keys()) if records else names
        problems = [] if got_names == names else ["columns %r" % got_names]
        return [[rec[n] for n in got_names] for rec in records], problems
    finally:
        run([bin_dir + "/pg_ctl", "-D", data, "-m", "immediate", "stop"])
        shutil.rmtree(scratch, ignore_errors=True)


# ------------------------------------------------------------ main

def main():
    global DUMP
    fmt, path, dump_path, scratch = sys.argv[1:5]
    with open(dump_path, encoding="utf-8") as f:
        DUMP = json.load(f)
    fields, want = expected(DUMP)
    names = [n for n, _ in fields]
    title = os.path.splitext(os.path.basename(DUMP.get("table", "people.dbf")))[0]
    if len(sys.argv) > 5:
        title = sys.argv[5]
    problems = []
    got = None
    compare_args = {}
    if fmt == "csv":
        got, problems = read_csv(path, True, names)
    elif fmt == "txt":
        got, problems = read_csv(path, False, names)
    elif fmt == "json":
        with open(path, encoding="utf-8") as f:
            records = json.load(f)
        got = [[rec.get(n) for n in names] for rec in records]
        if records and list(records[0].keys()) != names:
            problems.append("keys %r" % list(records[0].keys()))
    elif fmt == "xml":
        got, problems = read_xml(path, names)
    elif fmt == "html":
        got, problems = read_html(path, names, title)
        compare_args["text"] = lambda s: s
    elif fmt == "dbf":
        got, problems = read_dbf(path, names)
    elif fmt == "sqlite":
        got, problems = read_sqlite(path, names, title)
    elif fmt == "xlsx":
        got, problems = read_xlsx(path, names)
    elif fmt == "xls":
        got, problems = read_xls(path)
        if not problems:
            problems += compare(fields, want, got)
            # LibreOffice, as a person opening the file would.
            got, more = read_office_csv(path, scratch)
            problems += more
            compare_args["dates"] = ("%m/%d/%Y",)
    elif fmt == "wks":
        got, problems = read_office_csv(path, scratch)
        # A worksheet label holds one line, and LibreOffice reads a Lotus
        # number to eight digits.
        compare_args = {"dates": ("%m/%d/%Y", "%d/%m/%Y"), "tolerance": Decimal("1e-7"),
                        "text": lambda s: re.sub(r"[\x00-\x1f]", "", s.replace("\n", " "))}
    elif fmt == "rtf":
        problems = read_rtf(path, scratch, fields, want, title)
    elif fmt == "pdf":
        problems = read_pdf(path, fields, want, title)
    elif fmt == "pgsql":
        got, problems = read_pgsql(path, scratch, names, title)
    else:
        print("unknown format " + fmt)
        return 2
    if got is not None and not problems:
        problems += compare(fields, want, got, **compare_args)
    if problems:
        print("\n".join(problems[:30]))
        return 1
    print("ok %d" % len(want))
    return 0


if __name__ == "__main__":
    sys.exit(main())
