#!/usr/bin/env bash
# Builds the API reference from the public headers with Doxygen into
# build/docs/html/ (open build/docs/html/index.html). Fails when Doxygen
# warns: every exported function, record, field and macro is documented;
# and when a header's usage example is missing or does not compile.
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
# Every header's overview ends with a usage example (the lines indented
# under "Example"), and every example compiles as C99 against the headers.
python3 - include/zub/*.h <<'EXAMPLES'
import re, subprocess, sys
failed = []
for header in sys.argv[1:]:
    text = open(header).read()
    overview = text[:text.index("*/")].split("\n")
    start = next((i for i, line in enumerate(overview) if re.match(r"\s*\*\s*Example\b", line)), None)
    if start is None:
        failed.append(header + ": no example in the overview")
        continue
    code = [line[7:] if line.startswith(" *     ") else "" for line in overview[start + 1:]]
    source = "\n".join(code) + "\n"
    if "main(" not in source and not re.search(r"^\w.*\)\s*$", source, re.M):
        source = "int main(void)\n{\n" + source + "return 0;\n}\n"
    result = subprocess.run(["cc", "-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-Iinclude",
                             "-fsyntax-only", "-x", "c", "-"], input=source, text=True, capture_output=True)
    if result.returncode != 0:
        failed.append(header + ": the example does not compile:\n" + result.stderr)
if failed:
    sys.exit("docs: " + "\n".join(failed))
print(f"docs: the examples of all {len(sys.argv) - 1} headers compile")
EXAMPLES
echo "API reference: build/docs/html/index.html"
