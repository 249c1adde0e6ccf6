"""Prints what dbfread reads from a table, as JSON, for the interop tests.

usage: dbfread_dump.py TABLE
Output: {"fields": [[name, type, length, decimals], ...],
         "records": [[value, ...], ...], "deleted": [[value, ...], ...]}
Dates are ISO text; text is decoded as cp1252 and must decode cleanly.
"""
import datetime
import json
import sys

from dbfread import DBF


def plain(value):
    if isinstance(value, datetime.date):
        return value.isoformat()
    return value


def main(path):
    table = DBF(path, encoding="cp1252", char_decode_errors="strict")
    out = {
        "fields": [[f.name, f.type, f.length, f.decimal_count] for f in table.fields],
        "records": [[plain(v) for v in r.values()] for r in table.records],
        "deleted": [[plain(v) for v in r.values()] for r in table.deleted],
    }
    sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode("utf-8"))


if __name__ == "__main__":
    main(sys.argv[1])
