#!/usr/bin/python3
"""Writes the corpus tables in code pages the other writers did not cover
(cp850, cp1251 with a FoxPro memo) with python3-dbf, and their expected
values as python3-dbfread reads them, in the corpus's JSON layout.

Run from this folder with Debian's python3 (python3-dbf, python3-dbfread):
    /usr/bin/python3 make_codepage_tables.py
"""
import base64
import datetime
import json
import os

import dbf
import dbfread

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "files", "generated", "python3-dbf")

TABLES = [
    ("pydbf_cp850", "db3", "cp850",
     "NAME C(30); CITY C(20); AMOUNT N(8,2); SINCE D",
     [("Müller Jürgen", "Zürich", 12.5, datetime.date(2001, 2, 3)),
      ("Françoise Ñúñez", "São Paulo", -3.25, datetime.date(1999, 12, 31)),
      ("Øyvind Ærø ÅÄÖ", "Tórshavn", 0, None)]),
    ("pydbf_cp1251_memo", "vfp", "cp1251",
     "NAME C(30); NOTE M; QTY N(6,0)",
     [("Иванов Иван", "Первая строка\r\nвторая строка — ещё «текст»", 1),
      ("Пётр Чайковский", "", 2),
      ("ЁЖИК в тумане", "Ёжик " * 200, 3)]),
]


def expected_value(v):
    if isinstance(v, bytes):
        return {"base64": base64.b64encode(v).decode()}
    if isinstance(v, datetime.datetime):
        return v.isoformat()
    if isinstance(v, datetime.date):
        return v.isoformat()
    if isinstance(v, float) and v != v:
        return {"float": "nan"}
    return v


def main():
    for name, kind, codepage, spec, rows in TABLES:
        path = os.path.join(OUT, name + ".dbf")
        for ext in (".dbf", ".dbt", ".fpt"):
            if os.path.exists(os.path.join(OUT, name + ext)):
                os.remove(os.path.join(OUT, name + ext))
        table = dbf.Table(path, spec, dbf_type=kind, codepage=codepage)
        table.open(dbf.READ_WRITE)
        for row in rows:
            table.append(row)
        table.close()

        raw = open(path, "rb").read()
        header_length = int.from_bytes(raw[8:10], "little")
        record_length = int.from_bytes(raw[10:12], "little")
        reader = dbfread.DBF(path, encoding=codepage, char_decode_errors="strict", load=True)
        records = [{"index": i, "deleted": False, "values": [expected_value(v) for v in r.values()]}
                   for i, r in enumerate(reader.records)]
        companions = [f for f in os.listdir(OUT) if f.startswith(name + ".") and not f.endswith((".dbf", ".json"))]
        doc = {
            "file": "files/generated/python3-dbf/" + name + ".dbf",
            "header": {
                "file_size": len(raw),
                "version_byte": "0x%02X" % raw[0],
                "record_count_header": int.from_bytes(raw[4:8], "little"),
                "header_length": header_length,
                "record_length": record_length,
                "last_update_bytes": list(raw[1:4]),
                "table_flags_byte28": "0x%02X" % raw[28],
                "language_driver_byte29": "0x%02X" % raw[29],
                "records_by_file_size": (len(raw) - header_length) // record_length,
                "ends_with_0x1A": raw[-1:] == b"\x1a",
            },
            "companions": sorted(companions),
            "oracle_errors": [],
            "oracle": "dbfread " + dbfread.__version__,
            "encoding": codepage,
            "encoding_source": "oracle default from the language driver byte",
            "fields": [{"name": f.name, "type": f.type, "length": f.length, "decimals": f.decimal_count}
                       for f in reader.fields],
            "record_count_read": len(records),
            "record_count_within_header": len(records),
            "deleted_count": 0,
            "records": records,
            "read_fully": True,
        }
        with open(os.path.join(OUT, name + ".expected.json"), "w", encoding="utf-8") as out:
            json.dump(doc, out, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main()
