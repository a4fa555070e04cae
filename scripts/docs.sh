#!/usr/bin/env bash
# Builds the API reference from the public headers with Doxygen into
# build/docs/html/ (open build/docs/html/index.html). Fails when Doxygen
# warns: every exported function, record, field and macro is documented.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build/docs
mkdir -p build/docs
ZUB_VERSION=$(sed -n 's/^project(zubvorn VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) doxygen docs/Doxyfile
if [ -s build/docs/warnings.log ]; then
  cat build/docs/warnings.log >&2
  echo "docs: $(wc -l < build/docs/warnings.log) Doxygen warning lines" >&2
  exit 1
fi
# Every name the shared object exports has a documented declaration.
python3 - exports/*.txt <<'CHECK'
import glob, re, sys
import xml.etree.ElementTree as ET
documented = set()
for path in glob.glob("build/docs/xml/*.xml"):
    for member in ET.parse(path).iter("memberdef"):
        text = "".join(member.find("briefdescription").itertext()) + \
               "".join(member.find("detaileddescription").itertext())
        if text.strip():
            documented.add(member.findtext("name"))
exported = {line.split("#")[0].strip() for f in sys.argv[1:] for line in open(f)} - {""}
missing = sorted(exported - documented)
if missing:
    sys.exit("docs: exported but not documented: " + " ".join(missing))
print(f"docs: all {len(exported)} exported names documented")
CHECK
echo "API reference: build/docs/html/index.html"
