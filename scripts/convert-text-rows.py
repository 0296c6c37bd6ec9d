#!/usr/bin/env python3
"""Turns positional rows of the keyed text tables into keyed rows.

A positional row names no key: `{"pl", "en", M},` is the text of the
enumerator at the same position of its enum. This rewrites every such row of
the tables below as `TEXT_ROW(Enum::Name, "pl", "en", M),`, taking the name
from the enum at the row's position, and leaves keyed rows alone. Run it after
a merge that brought rows in the positional form, then build: the build checks
that every row sits at its enumerator and that none is missing or doubled.

Usage: scripts/convert-text-rows.py [--check]
  --check  change nothing; exit 1 when a positional row is left.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# (header with the enum, source with the table, enum, table)
TABLES = [
    ("texts/language_table.h", "texts/language_table.cpp", "CardText", "kCard"),
    ("texts/language_table.h", "texts/language_table.cpp", "Message", "kMessage"),
    ("texts/language_table.h", "texts/language_table.cpp", "ToolText", "kTool"),
    ("texts/language_table.h", "texts/language_table.cpp", "CheckText", "kCheck"),
    ("texts/diagnostic_texts.h", "texts/diagnostic_texts.cpp", "DiagnosticText", "kDiagnostic"),
]


def skip_literal(text, i):
    """Index just past the string or character literal that starts at i."""
    quote = text[i]
    i += 1
    while text[i] != quote:
        i += 2 if text[i] == "\\" else 1
    return i + 1


def skip_comment(text, i):
    """Index past a comment starting at i, or i when none starts there."""
    if text.startswith("//", i):
        end = text.find("\n", i)
        return len(text) if end < 0 else end
    if text.startswith("/*", i):
        return text.index("*/", i) + 2
    return i


def body(text, opening):
    """The index of the brace that closes the one at `opening`."""
    depth, i = 0, opening
    while True:
        c = text[i]
        after = skip_comment(text, i)
        if after != i:
            i = after
            continue
        if c in "\"'":
            i = skip_literal(text, i)
            continue
        if c in "{(":
            depth += 1
        elif c in "})":
            depth -= 1
            if depth == 0:
                return i
        i += 1


def enumerators(header, enum):
    match = re.search(r"enum class " + enum + r"\b[^{]*\{", header)
    if not match:
        sys.exit(f"no enum {enum}")
    end = body(header, match.end() - 1)
    inside = re.sub(r"//[^\n]*|/\*.*?\*/", "", header[match.end():end], flags=re.S)
    names = [part.split("=")[0].strip() for part in inside.split(",")]
    return [n for n in names if n and n != "Count"]


def elements(text, opening, closing):
    """(start, end) of each element of the braced list between the braces."""
    spans, i = [], opening + 1
    while i < closing:
        after = skip_comment(text, i)
        if after != i:
            i = after
            continue
        if text[i].isspace() or text[i] == ",":
            i += 1
            continue
        start = i
        while i < closing and text[i] != ",":
            after = skip_comment(text, i)
            if after != i:
                break
            if text[i] in "\"'":
                i = skip_literal(text, i)
            elif text[i] in "{(":
                i = body(text, i) + 1
            else:
                i += 1
        spans.append((start, i))
    return spans


def convert(source, header, enum, table):
    match = re.search(r"\b" + table + r"\[[^\]]*\]\s*=\s*\{", source)
    if not match:
        sys.exit(f"no table {table}")
    opening = match.end() - 1
    names = enumerators(header, enum)
    spans = elements(source, opening, body(source, opening))
    if len(spans) > len(names):
        sys.exit(f"{table}: {len(spans)} rows for {len(names)} enumerators of {enum}")
    changed = 0
    for index, (start, end) in reversed(list(enumerate(spans))):
        row = source[start:end].rstrip()
        if not row.startswith("{"):
            continue
        inner = row[1:-1].strip()
        source = source[:start] + f"TEXT_ROW({enum}::{names[index]}, {inner})" + source[start + len(row):]
        changed += 1
    return source, changed


def main():
    check = "--check" in sys.argv[1:]
    left = 0
    for header_path, source_path, enum, table in TABLES:
        header = (ROOT / header_path).read_text(encoding="utf-8")
        path = ROOT / source_path
        source, changed = convert(path.read_text(encoding="utf-8"), header, enum, table)
        if changed and not check:
            path.write_text(source, encoding="utf-8")
            print(f"{source_path}: {table}: {changed} rows keyed")
        left += changed
    if check and left:
        print(f"{left} positional rows left; run scripts/convert-text-rows.py")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
