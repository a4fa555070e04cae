#!/usr/bin/env python3
"""Doxygen INPUT_FILTER for the public headers: turns their plain C comments
into documentation on the fly, so the headers keep one comment style.

- The comment at the top of a header becomes the file's description; its
  usage example (from the line that starts with "Example") is kept as code.
- A comment on lines of its own, directly above a declaration, documents
  that declaration; when several declarations follow it with no blank line
  (a run of macros, fields or functions), it documents each of them that has
  no comment of its own.
- A comment that starts after code on the same line documents that code
  (a field, a macro), even when it goes on over the next lines.
- Banners (/* ---- ... */) and comments followed by a blank line stay plain.

Line numbers are kept, so Doxygen's warnings point at the real header line.
"""
import re
import sys

PREDEFINED = re.compile(r"^ZUB_PREDEFINED_TABLE_\((\w+)\)(.*)$")
EXAMPLE = re.compile(r"\s*\*\s*Example\b")
CONDITIONAL = re.compile(r"\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b")


def escape(text):
    # Comment text is prose, not Doxygen markup: backslashes ("...\n") and
    # at signs are shown as written.
    return text.replace("\\", "\\\\").replace("@", "\\@")


def comment_end(lines, start, column):
    """Line index of the line where the comment opened at (start, column) ends."""
    i = start
    pos = lines[start].find("*/", column + 2)
    while pos < 0:
        i += 1
        pos = lines[i].find("*/")
    return i


def collapse(lines, start, end):
    """The text of the comment on lines start..end as one line."""
    text = " ".join(lines[start:end + 1])
    text = text[text.find("/*") + 2:text.rfind("*/")]
    words = [w for w in text.split() if w != "*"]
    return escape(" ".join(words))


def declaration_end(lines, i):
    """Last line of the declaration that starts at line i."""
    if lines[i].lstrip().startswith("#"):
        while lines[i].rstrip().endswith("\\") and i + 1 < len(lines):
            i += 1
        return i
    while not re.search(r"[;{}]", lines[i].split("/*")[0]) and i + 1 < len(lines):
        i += 1
    return i


def document(declaration, text, whole):
    """declaration (its lines) documented by text: the declaration itself when
    whole is set, and the fields of a record written on one line."""
    declaration = list(declaration)
    first = declaration[0]
    if "{" in first and "}" in first:
        head, rest = first.split("{", 1)
        fields, tail = rest.rsplit("}", 1)
        fields = fields.replace(";", "; /**< " + text + " */")
        declaration[0] = head + "{" + fields + "}" + tail
    if whole and not CONDITIONAL.match(first):
        if first.lstrip().startswith("#"):
            declaration[-1] += " /**< " + text + " */"
        else:
            declaration[0] = "/** " + text + " */ " + declaration[0]
    return declaration


def opens_block(line):
    """True for a line that opens a record or function body (the run ends)."""
    code = line.split("/*")[0]
    return not code.lstrip().startswith("#") and code.count("{") > code.count("}")


def starts_declaration(line):
    stripped = line.strip()
    return (stripped != "" and not stripped.startswith("/*") and not stripped.startswith("}")
            and not stripped.startswith("#endif") and not stripped.startswith("ZUB_EXTERN_C"))


def predefined_tables(match):
    """ZUB_PREDEFINED_TABLE_(t) declares the two exported objects of a
    predefined type; spell them out so that each gets its documentation."""
    name, note = match.group(1), match.group(2).strip()
    note = note[2:-2].strip() if note.startswith("/*") else ""
    note = " " + note[0].upper() + note[1:] + "." if note else ""
    return ("/** Type description table of " + name + "." + escape(note) + " */ "
            "ZUB_API extern const zubEndianTable_t __zub_EndianTable_" + name + "; "
            "/** Entries of __zub_EndianTable_" + name + ": one VAR32 entry and the terminator. */ "
            "ZUB_API extern const zubEndianInfoEntry_t __zub_EndianInfoEntries_" + name + "[2];")


def convert(source):
    lines = source.split("\n")
    out = list(lines)
    seen_code = False
    i = 0
    while i < len(lines):
        line = lines[i]
        column = line.find("/*")
        if column < 0:
            if line.strip():
                seen_code = True
            i += 1
            continue
        end = comment_end(lines, i, column)
        before = line[:column]
        if CONDITIONAL.match(before):
            i = end + 1  # the comment after #endif names its condition
            continue
        if before.strip():
            # Trailing comment: documents the code before it.
            out[i] = before + "/**<" + escape(line[column + 2:])
            for k in range(i + 1, end + 1):
                out[k] = escape(lines[k])
            i = end + 1
            continue
        body = lines[i][column + 2:]
        if not seen_code:
            # The usage example at the end of the file comment is code: its
            # backslashes stay as written.
            out[i] = before + "/** @file " + escape(body)
            example = False
            for k in range(i + 1, end + 1):
                example = example or EXAMPLE.match(lines[k]) is not None
                out[k] = lines[k] if example else escape(lines[k])
            seen_code = True
            i = end + 1
            continue
        if body.lstrip().startswith("-") or end + 1 >= len(lines) or not starts_declaration(lines[end + 1]):
            i = end + 1
            continue
        out[i] = before + "/**" + escape(body)
        for k in range(i + 1, end + 1):
            out[k] = escape(lines[k])
        # The run of declarations below shares this comment.
        text = collapse(lines, i, end)
        j = end + 1
        while j < len(lines) and starts_declaration(lines[j]) and (j == end + 1 or not opens_block(lines[j - 1])):
            last = declaration_end(lines, j)
            if "/*" not in "".join(lines[j:last + 1]):
                out[j:last + 1] = document(lines[j:last + 1], text, j > end + 1)
            j = last + 1
        i = end + 1
    for k, line in enumerate(lines):
        match = PREDEFINED.match(line)
        if match:
            out[k] = predefined_tables(match)
    return "\n".join(out)


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        sys.stdout.write(convert(f.read()))
