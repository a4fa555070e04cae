#!/usr/bin/env python3
"""Replaces one generated section of a report in docs/ with standard input.

    report_section.py FILE NAME < text

The section lies between the lines "<!-- begin NAME -->" and
"<!-- end NAME -->"; when FILE has no such section it is appended. The
scripts that measure something (test.sh, fuzz.sh, mutate.py, bench.sh) write
their figures this way, so no figure in docs/ is typed by hand.
"""
import sys
from pathlib import Path


def replace(text, name, body):
    begin, end = f"<!-- begin {name} -->", f"<!-- end {name} -->"
    block = f"{begin}\n{body.rstrip()}\n{end}"
    start = text.find(begin)
    stop = text.find(end, start)
    if start < 0 or stop < 0:
        return text.rstrip("\n") + "\n\n" + block + "\n"
    return text[:start] + block + text[stop + len(end):]


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: report_section.py FILE NAME < text")
    path = Path(sys.argv[1])
    text = path.read_text() if path.exists() else ""
    path.write_text(replace(text, sys.argv[2], sys.stdin.read()))


if __name__ == "__main__":
    main()
