#!/usr/bin/env python3
"""The dynamic symbols that libxbdb.so defines are exactly the functions and
globals that xbdb.h declares."""
import re
import subprocess
import sys

header, library = sys.argv[1], sys.argv[2]
text = re.sub(r"/\*.*?\*/", "", open(header).read(), flags=re.S)
text = re.sub(r"#define[^\n]*(\\\n[^\n]*)*", "", text)
text = re.sub(r"typedef struct \w+ \{.*?\} \w+;", "", text, flags=re.S)
text = re.sub(r"typedef[^;]*;", "", text)
text = re.sub(r"^\s*#.*$", "", text, flags=re.M)
text = text.replace('extern "C" {', "")
declared = set(re.findall(r"\b(\w+)\s*\(", text))       # functions
declared |= set(re.findall(r"extern\s+[^;(]*?\b(\w+)\s*(?:\[[^\]]*\])?\s*;", text))

out = subprocess.run(["nm", "-D", "--defined-only", library],
                     capture_output=True, text=True, check=True).stdout
exported = {line.split()[-1].split("@")[0] for line in out.splitlines()
            if len(line.split()) >= 3}

missing = sorted(declared - exported)
extra = sorted(exported - declared)
if missing:
    print("declared in xbdb.h but not exported:", " ".join(missing))
if extra:
    print("exported but not declared in xbdb.h:", " ".join(extra))
print(f"{len(declared)} names declared, {len(exported)} exported")
sys.exit(1 if missing or extra else 0)
