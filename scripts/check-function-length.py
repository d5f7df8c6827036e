#!/usr/bin/env python3
"""Finds the functions that are longer than the limit (60 lines).

A long function is a step that wants a name: CONTRIBUTING keeps functions at
about 60 lines. A function's length is the lines from its opening brace to its
closing one, less the lines inside the brace initializers it holds: a table of
natives or of scenario fields written out inside a function is data, and may
be as long as it has entries. Lambdas and blocks inside a function count as
its own lines. Every function over the limit is printed as
FILE:LINE: NAME is N lines, and the status is 1.

The files are read as clang-format leaves them: comments, strings, character
literals and preprocessor lines are set aside first, then braces are matched,
each `{` being classed by what comes before it (a namespace or class, a
function, a block of code or an initializer).

Usage: check-function-length.py [--limit N] [--list] PATH...
  PATH      a file, or a folder whose .h and .cpp files are read
  --limit   the longest function allowed (default 60)
  --list    print every function over 40 lines with its length, and pass
"""
import argparse
import pathlib
import re
import sys

SOURCE_SUFFIXES = {".h", ".cpp"}
SCOPE_KEYWORD = re.compile(r"\b(namespace|class|struct|union)\b")
TEMPLATE_PREFIX = re.compile(r"^\s*template\s*<")
# What may follow a function's parameter list before its body.
FUNCTION_TAIL = re.compile(
    r"\)\s*(?:(?:const|override|final|noexcept|mutable|volatile|&&|&)\s*|noexcept\s*\([^)]*\)\s*)*"
    r"(?:->\s*[\w:<>,*&\s]+)?$")
CONSTRUCTOR_INIT = re.compile(r"\)\s*:(?!:)")


def blank_out(text):
    """`text` with comments, strings, character literals and preprocessor
    lines replaced by spaces, keeping every newline where it was."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#" or (line_start and c in " \t" and _directive_follows(text, i)):
            end = _directive_end(text, i)
            out.append(_keep_newlines(text[i:end]))
            i = end
            line_start = True
            continue
        if c == "\n":
            out.append(c)
            i += 1
            line_start = True
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(_keep_newlines(text[i:end]))
            i = end
        elif c == "R" and text.startswith('R"', i) and not _word_char_before(text, i):
            open_paren = text.find("(", i + 2)
            delimiter = text[i + 2:open_paren]
            end = text.find(")" + delimiter + '"', open_paren)
            end = n if end < 0 else end + len(delimiter) + 2
            out.append('""' + _keep_newlines(text[i + 2:end]))
            i = end
        elif c == '"' or (c == "'" and not _digit_separator(text, i)):
            end = _literal_end(text, i, c)
            out.append(c + " " * (end - i - 2) + c)
            i = end
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _directive_follows(text, i):
    j = i
    while j < len(text) and text[j] in " \t":
        j += 1
    return j < len(text) and text[j] == "#"


def _directive_end(text, i):
    """The end of the preprocessor line at `i`, continuation lines included."""
    while True:
        end = text.find("\n", i)
        if end < 0:
            return len(text)
        if end > 0 and text[end - 1] == "\\":
            i = end + 1
            continue
        return end


def _keep_newlines(chunk):
    return "".join(ch if ch == "\n" else " " for ch in chunk)


def _word_char_before(text, i):
    return i > 0 and (text[i - 1].isalnum() or text[i - 1] == "_")


def _digit_separator(text, i):
    return (i > 0 and text[i - 1].isalnum() and i + 1 < len(text) and text[i + 1].isalnum()
            and text[i - 1] not in "uULR")


def _literal_end(text, i, quote):
    j = i + 1
    while j < len(text) and text[j] != quote and text[j] != "\n":
        j += 2 if text[j] == "\\" else 1
    return min(j + 1, len(text))


class Frame:
    """One open brace: its kind, the line it opened on and, for a function, its
    name and the initializer lines inside it so far."""

    def __init__(self, kind, line, name=""):
        self.kind = kind  # "scope", "function", "code", "data" or "head"
        self.line = line
        self.name = name
        self.data_lines = 0
        self.saved_head = ""


def classify_outside(head):
    """The kind of a `{` met at namespace or class level after `head`."""
    text = " ".join(head.split())
    if TEMPLATE_PREFIX.match(text):
        text = _strip_template(text)
    if re.fullmatch(r"extern", text.strip()):
        return "scope"
    paren = text.find("(")
    keyword = SCOPE_KEYWORD.search(text)
    if re.search(r"\benum\b", text) and (paren < 0 or text.find("enum") < paren):
        return "data"
    if keyword and (paren < 0 or keyword.start() < paren):
        return "scope"
    if text.count("(") > text.count(")"):
        return "head"  # braces in a parameter list or a constructor's list
    if paren >= 0 and CONSTRUCTOR_INIT.search(text) and re.search(r"[\w>]$", text):
        return "head"  # a member's brace initializer in a constructor's list
    if text.endswith(("=", "(", ",", "[")):
        return "data"
    if paren >= 0 and (FUNCTION_TAIL.search(text) or CONSTRUCTOR_INIT.search(text)):
        return "function"
    return "data"


def classify_inside(head, parent):
    """The kind of a `{` met inside a function after `head`."""
    text = " ".join(head.split())
    if parent.kind == "data":
        return "data"
    if not text or text.endswith(":"):
        return "code"  # a bare block, or one after a case label
    if FUNCTION_TAIL.search(text) or text.endswith("]"):
        return "code"  # a statement's block or a lambda's body
    if re.search(r"\b(else|do|try)$", text):
        return "code"
    return "data"


def _strip_template(text):
    depth = 0
    for index, ch in enumerate(text):
        if ch == "<":
            depth += 1
        elif ch == ">":
            depth -= 1
            if depth == 0:
                return text[index + 1:].strip()
    return text


def function_name(head):
    text = " ".join(head.split())
    paren = text.find("(")
    name = text[:paren].split()[-1] if paren > 0 and text[:paren].split() else text
    if name in {"TEST", "TEST_F", "TEST_P", "TYPED_TEST"}:
        return text[:text.find(")") + 1]
    return name


def functions(text):
    """(line, name, length) of every function in the source `text`."""
    found = []
    stack = []
    head = []
    line = 1
    for ch in blank_out(text):
        if ch == "\n":
            line += 1
            head.append(" ")
        elif ch == "{":
            inside = next((f for f in reversed(stack) if f.kind == "function"), None)
            head_text = "".join(head).strip()
            if inside is None:
                kind = classify_outside(head_text)
            else:
                kind = classify_inside(head_text, stack[-1])
            frame = Frame(kind, line, function_name(head_text) if kind == "function" else "")
            if kind == "head":
                frame.saved_head = "".join(head)
            stack.append(frame)
            head = []
        elif ch == "}":
            if not stack:
                head = []
                continue
            frame = stack.pop()
            if frame.kind == "head":
                head = list(frame.saved_head + " x")
                continue
            if frame.kind == "function":
                found.append((frame.line, frame.name, line - frame.line + 1 - frame.data_lines))
            elif frame.kind == "data" and stack and stack[-1].kind in ("function", "code"):
                owner = next((f for f in reversed(stack) if f.kind == "function"), None)
                if owner is not None:
                    owner.data_lines += max(0, line - frame.line - 1)
            head = []
        elif ch == ";":
            head = []
        else:
            head.append(ch)
    return found


def source_files(paths):
    for path in paths:
        if path.is_dir():
            yield from sorted(p for p in path.rglob("*") if p.suffix in SOURCE_SUFFIXES)
        elif path.suffix in SOURCE_SUFFIXES:
            yield path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="+", type=pathlib.Path)
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    over = 0
    count = 0
    for path in source_files(args.paths):
        for line, name, length in functions(path.read_text(encoding="utf-8")):
            count += 1
            if args.list and length > 40:
                print(f"{path}:{line}: {name} is {length} lines")
            elif not args.list and length > args.limit:
                over += 1
                print(f"{path}:{line}: {name} is {length} lines (at most {args.limit})")
    print(f"check-function-length: {count} functions, {over} over {args.limit} lines",
          file=sys.stderr)
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
