#!/usr/bin/env python3
"""Checks the documentation's relative links and pictures.

Every relative link and image in README.md, CONTRIBUTING.md and docs/**/*.md
must name a file or folder that exists; a link with an anchor to a Markdown
page must name one of that page's headings (as a repository page makes its
anchors: lower case, punctuation dropped, spaces as hyphens, -1, -2, ... for a
repeated heading) or an explicit id. Pictures need alt text, and README.md
stays short. Links inside code are not links. Each fault is printed as
FILE:LINE: message and the status is 1.

Usage: check-doc-links.py [SOURCE_DIR]
"""
import pathlib
import re
import sys
import urllib.parse

README_LIMIT = 8500  # bytes: the README is a front page, the reference lives in docs/

FENCE = re.compile(r"^\s{0,3}(`{3,}|~{3,})")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
# [text](target "title") and ![alt](target); the text may hold one level of
# brackets (a picture inside a link).
INLINE = re.compile(r"(!?)\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\(\s*(<[^>]*>|[^\s)]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HTML_TARGET = re.compile(r"<(a|img)\b[^>]*?\b(href|src)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
HTML_ALT = re.compile(r"\balt\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
HTML_ID = re.compile(r"<[a-z]+\b[^>]*?\b(?:id|name)\s*=\s*\"([^\"]+)\"", re.IGNORECASE)
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:|^//")


def pages(root):
    """The pages checked: those of the agreed set that exist."""
    found = [root / name for name in ("README.md", "CONTRIBUTING.md") if (root / name).is_file()]
    docs = root / "docs"
    if docs.is_dir():
        found += sorted(p for p in docs.rglob("*.md") if p.is_file())
    return found


def prose_lines(text):
    """(line number, line with code spans blanked, line) outside fenced code."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        match = FENCE.match(line)
        if fence is None and match:
            fence = match.group(1)[0] * len(match.group(1))
            continue
        if fence is not None:
            if line.strip().startswith(fence):
                fence = None
            continue
        yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line), line


def slug(heading):
    """The anchor a repository page gives a heading."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text stays
    text = re.sub(r"<[^>]+>", "", text).replace("`", "").strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor a Markdown page offers."""
    found, seen = set(), {}
    text = path.read_text(encoding="utf-8")
    for _, prose, line in prose_lines(text):
        found.update(HTML_ID.findall(prose))
        # A heading's code keeps its text in the anchor.
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def targets(line):
    """(target, is_image, alt) of every link and picture on a line."""
    for match in INLINE.finditer(line):
        yield match.group(3).strip("<>"), match.group(1) == "!", match.group(2)
    match = REFERENCE.match(line)
    if match:
        yield match.group(1).strip("<>"), False, None
    for match in HTML_TARGET.finditer(line):
        is_image = match.group(1).lower() == "img"
        alt = HTML_ALT.search(match.group(0) + line[match.end():].split(">", 1)[0])
        yield match.group(3), is_image, alt.group(1) if alt else ""


def check_target(root, page, target, cache):
    """What is wrong with one relative target, or None."""
    path_part, _, anchor = target.partition("#")
    path_part = urllib.parse.unquote(path_part)
    destination = (page.parent / path_part).resolve() if path_part else page
    relative = destination.relative_to(root).as_posix() if destination.is_relative_to(root) else None
    if not destination.exists():
        return f"{target}: no such file ({relative or destination})"
    if not anchor or destination.suffix != ".md" or destination.is_dir():
        return None
    if destination not in cache:
        cache[destination] = anchors(destination)
    if urllib.parse.unquote(anchor) not in cache[destination]:
        return f"{target}: {relative} has no heading or id '{anchor}'"
    return None


def check_page(root, page, cache):
    faults = []
    name = page.relative_to(root).as_posix()
    for number, line, _ in prose_lines(page.read_text(encoding="utf-8")):
        for target, is_image, alt in targets(line):
            if is_image and alt is not None and not alt.strip():
                faults.append(f"{name}:{number}: the picture {target} has no alt text")
            if not target or SCHEME.match(target):
                continue
            fault = check_target(root, page, target, cache)
            if fault:
                faults.append(f"{name}:{number}: {fault}")
    return faults


def check(root):
    """Every fault under `root`."""
    faults, cache = [], {}
    readme = root / "README.md"
    if not readme.is_file():
        faults.append("README.md:1: missing")
    elif readme.stat().st_size > README_LIMIT:
        faults.append(f"README.md:1: {readme.stat().st_size} bytes, more than {README_LIMIT}: "
                      "move reference to docs/")
    for page in pages(root):
        faults += check_page(root, page, cache)
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    if not root.is_dir():
        print(f"check-doc-links: {root} is not a folder", file=sys.stderr)
        return 2
    faults = check(root)
    for fault in faults:
        print(fault)
    print(f"check-doc-links: {len(pages(root))} page(s), {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
