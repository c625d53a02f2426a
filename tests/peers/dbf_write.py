#!/usr/bin/python3
"""Writes the peer sample table with python3-dbf: argv[1] path, argv[2] dbf type
('db3' or 'fp')."""
import datetime
import sys

import dbf

path, kind = sys.argv[1], sys.argv[2]
spec = "NAME C(20); QTY N(5,0); PRICE N(9,2); SOLD D; PAID L"
if kind == "fp":
    # FoxPro tables carry their version byte 0xF5 only with a memo field.
    spec += "; RATE F(8,3); NOTE M"
table = dbf.Table(path, spec, dbf_type=kind, codepage="cp1252")
table.open(dbf.READ_WRITE)
rows = [
    ("Alice", 3, 12.5, datetime.date(2024, 1, 31), True),
    ("Bob", 0, 0, None, False),
    ("Carol x", 120, -7.25, datetime.date(1999, 12, 31), None),
]
for row in rows:
    if kind == "fp":
        row = row + (1.125, "memo text")
    table.append(row)
dbf.delete(table[1])
table.close()
