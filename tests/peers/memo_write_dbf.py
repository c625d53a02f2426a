#!/usr/bin/python3
"""Writes the memo peer sample with python3-dbf: argv[1] table path, argv[2] kind
('db3' for a DBT memo, 'fp' for an FPT memo). The texts are read from stdin, one
per line in hex ('-' for no memo)."""
import sys

import dbf

path, kind = sys.argv[1], sys.argv[2]
table = dbf.Table(path, "ID C(6); NOTE M", dbf_type=kind, codepage="cp1252")
table.open(dbf.READ_WRITE)
for n, line in enumerate(sys.stdin.read().split(), 1):
    text = "" if line == "-" else bytes.fromhex(line).decode("cp1252")
    table.append((str(n), text))
table.close()
