#!/usr/bin/python3
"""Prints the memo texts of a table as dbfread reads them: one line per active
record, 'ID|' followed by the memo's bytes in hex, or '<none>' for no memo."""
import sys

from dbfread import DBF

table = DBF(sys.argv[1], encoding="latin-1", load=True)
for record in table.records:
    note = record["NOTE"]
    if isinstance(note, str):
        note = note.encode("latin-1")
    if note and table.header.dbversion == 0x8B:
        # dbfread takes a dBASE IV text's length as not counting its 8-byte header
        # and so reads 8 bytes of filler after the text.
        note = note.rstrip(b"\0")
    print("%s|%s" % (record["ID"].strip(), note.hex() if note else "<none>"))
