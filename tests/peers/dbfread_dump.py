#!/usr/bin/python3
"""Prints a table as dbfread reads it, one line per record, in the normalised form
the peer tests compare: deletion mark, then the fields separated by '|'."""
import sys

from dbfread import DBF


def show(value, field):
    if field.type == "M":
        return "<memo>"
    if value is None:
        return "<none>"
    if isinstance(value, bool):
        return "T" if value else "F"
    if hasattr(value, "strftime"):
        return value.strftime("%Y%m%d")
    if isinstance(value, (int, float)):
        if field.type in "NF" and field.decimal_count:
            return "%.*f" % (field.decimal_count, value)
        return "%d" % value
    if isinstance(value, bytes):
        return value.hex()
    return str(value).rstrip()


table = DBF(sys.argv[1], encoding="latin-1", load=True, ignore_missing_memofile=True)
fields = {f.name: f for f in table.fields}
print("fields " + " ".join("%s:%s:%d:%d" % (f.name, f.type, f.length, f.decimal_count)
                           for f in table.fields))
for deleted, records in ((" ", table.records), ("*", table.deleted)):
    for record in records:
        print(deleted + "|".join(show(v, fields[k]) for k, v in record.items()))
