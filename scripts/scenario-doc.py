#!/usr/bin/env python3
"""Writes or checks the field table of docs/scenarios.md, made from the
scenario format's JSON Schema (scenarios/scenario.schema.json).

  scenario-doc.py --write   rewrite the table between the page's markers
  scenario-doc.py --check   exit 1, naming the first difference, when the page's
                            table is not the one the schema gives
  scenario-doc.py --print   print the table

--schema FILE and --doc FILE read other files than the repository's.
The table has a row for every field: its path, type, default, range and
description. An event is one of several kinds; its fields are listed per kind
as events[KIND].FIELD.
"""

import argparse
import json
import os
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BEGIN = ("<!-- scenario-fields: begin. Made by scripts/scenario-doc.py --write from "
         "scenarios/scenario.schema.json; edit the schema, not this table. -->")
END = "<!-- scenario-fields: end -->"


class DocError(Exception):
    """A page or schema this script cannot work with."""


def resolve(schema, node):
    """The node a {"$ref": "#/$defs/NAME"} names (followed through chains), or
    the node itself; with the description of the first node that has one."""
    description = node.get("description")
    seen = 0
    while "$ref" in node:
        ref = node["$ref"]
        if not ref.startswith("#/"):
            raise DocError(f"$ref {ref}: only references inside the schema are followed")
        target = schema
        for part in ref[2:].split("/"):
            target = target[part]
        merged = dict(target)
        merged.update({k: v for k, v in node.items() if k != "$ref"})
        node = merged
        description = description or node.get("description")
        seen += 1
        if seen > 20:
            raise DocError(f"$ref {ref}: a loop of references")
    return node, description


def number(value):
    """A bound as a reader expects it: whole numbers without a fraction, others
    in as many digits as a float has."""
    if isinstance(value, float) and value.is_integer() and abs(value) < 1e15:
        value = int(value)
    if isinstance(value, float):
        return f"{value:.9g}"  # a float's bound: nine digits tell any two floats apart
    return json.dumps(value)


def ref_name(node):
    """The name of the definition a node refers to, or None."""
    ref = node.get("$ref", "")
    return ref.rsplit("/", 1)[-1] if ref.startswith("#/$defs/") else None


def type_text(schema, node, top=False):
    """What a value of `node` is, in a few words; a value of a named definition
    by that name (the table of definitions says what it is)."""
    if not top and ref_name(node):
        return ref_name(node)
    node, _ = resolve(schema, node)
    if "const" in node:
        return json.dumps(node["const"])
    if "enum" in node:
        return " or ".join(json.dumps(v) for v in node["enum"])
    for key in ("anyOf", "oneOf"):
        if key in node:
            return " or ".join(type_text(schema, alt) for alt in node[key])
    kind = node.get("type", "any")
    if isinstance(kind, list):
        return " or ".join(kind)
    if kind == "array" and isinstance(node.get("items"), dict):
        count = ""
        if node.get("minItems") is not None and node.get("minItems") == node.get("maxItems"):
            count = f"{node['minItems']} "
        return f"array of {count}{type_text(schema, node['items'])}"
    if kind == "object" and isinstance(node.get("additionalProperties"), dict):
        if not node.get("properties"):
            return f"object of {type_text(schema, node['additionalProperties'])}"
    return kind


def range_text(schema, node, top=False):
    """The bounds a value of `node` must keep, or ""."""
    if not top and ref_name(node):
        return ""
    node, _ = resolve(schema, node)
    for key in ("anyOf", "oneOf"):
        if key in node:
            parts = [range_text(schema, alt) for alt in node[key]]
            return "; ".join(p for p in parts if p)
    parts = []
    if "minimum" in node and "maximum" in node:
        parts.append(f"{number(node['minimum'])} to {number(node['maximum'])}")
    else:
        if "minimum" in node:
            parts.append(f"at least {number(node['minimum'])}")
        if "maximum" in node:
            parts.append(f"at most {number(node['maximum'])}")
    if "exclusiveMinimum" in node:
        parts.append(f"above {number(node['exclusiveMinimum'])}")
    if "exclusiveMaximum" in node:
        parts.append(f"below {number(node['exclusiveMaximum'])}")
    if "minLength" in node:
        parts.append(f"at least {node['minLength']} characters")
    if "pattern" in node:
        parts.append(f"matches `{node['pattern']}`")
    if node.get("type") == "array" and isinstance(node.get("items"), dict):
        inner = range_text(schema, node["items"])
        if inner:
            parts.append(f"each {inner}")
    names = node.get("propertyNames")
    if isinstance(names, dict) and names.get("description"):
        parts.append(f"keys: {names['description']}")
    return ", ".join(parts)


def cell(text):
    """Text made safe for one cell of a Markdown table."""
    return text.replace("\\", "\\\\").replace("|", "\\|").replace("\n", " ")


def code(text):
    return f"`{text}`" if text else ""


def rows(schema, node, path, required=()):
    """The table's rows for `node` at `path` and everything under it."""
    named = ref_name(node)
    resolved, description = resolve(schema, node)
    out = []
    if path:
        default = code(json.dumps(resolved["default"])) if "default" in resolved else ""
        if path.rsplit(".", 1)[-1] in required:
            default = "required"
        out.append([code(path), cell(type_text(schema, node)), default,
                    cell(range_text(schema, node)), cell(description or "")])
    if named:
        return out  # a named definition's inside is in the table of definitions
    node = resolved
    prefix = path + "." if path else ""
    for name, child in node.get("properties", {}).items():
        if name == "$schema" and not path:
            continue
        out += rows(schema, child, prefix + name, node.get("required", ()))
    extra = node.get("additionalProperties")
    if isinstance(extra, dict):
        out += rows(schema, extra, prefix + "*", ())
    items = node.get("items")
    if isinstance(items, dict):
        item, _ = resolve(schema, items)
        if "oneOf" in item and all("title" in v for v in item["oneOf"]):
            out[-1][1] = "array of events, each of one kind below"
            for variant in item["oneOf"]:
                kind = f"{path}[{variant['title']}]"
                for name, child in variant.get("properties", {}).items():
                    out += rows(schema, child, f"{kind}.{name}", variant.get("required", ()))
        else:
            out += [r for r in rows(schema, items, path + "[]") if r[0] != code(path + "[]")]
    return out


def expanded(schema, name):
    """Whether a definition is listed by its kinds in the field table (events)."""
    node = schema["$defs"][name]
    return "oneOf" in node and all("title" in v for v in node["oneOf"])


def table(schema):
    lines = ["| field | type | default | range | what it is |", "|---|---|---|---|---|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows(schema, schema, "")]
    lines += ["", "The types named in the table:", "",
              "| type | what a value is | range | what it is |", "|---|---|---|---|"]
    for name, node in schema.get("$defs", {}).items():
        if expanded(schema, name):
            continue
        lines.append(f"| `{name}` | {cell(type_text(schema, node, top=True))} | "
                     f"{cell(range_text(schema, node, top=True))} | "
                     f"{cell(node.get('description', ''))} |")
    return lines


def split_page(text, doc_path):
    """The page's lines before the table, the table's lines and those after."""
    lines = text.split("\n")
    try:
        begin = lines.index(BEGIN)
    except ValueError:
        raise DocError(f"{doc_path}: the line {BEGIN!r} is missing") from None
    try:
        end = lines.index(END, begin + 1)
    except ValueError:
        raise DocError(f"{doc_path}: the line {END!r} after line {begin + 1} is missing") from None
    return lines[:begin + 1], lines[begin + 1:end], lines[end:]


def first_difference(doc_path, first_line, found, wanted):
    """A sentence naming the first line where the page's table differs, or None."""
    for i in range(max(len(found), len(wanted))):
        have = found[i] if i < len(found) else None
        want = wanted[i] if i < len(wanted) else None
        if have != want:
            where = f"{doc_path}:{first_line + i}"
            if have is None:
                return f"{where}: the table ends here; the schema gives\n  {want}"
            if want is None:
                return f"{where}: the schema has no such row\n  {have}"
            return f"{where}: the table has\n  {have}\nwhere the schema gives\n  {want}"
    return None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--write", action="store_true", help="rewrite the page's table")
    action.add_argument("--check", action="store_true", help="exit 1 when the table is stale")
    action.add_argument("--print", action="store_true", help="print the table")
    parser.add_argument("--schema", default=os.path.join(ROOT, "scenarios", "scenario.schema.json"))
    parser.add_argument("--doc", default=os.path.join(ROOT, "docs", "scenarios.md"))
    args = parser.parse_args(argv)
    try:
        with open(args.schema, encoding="utf-8") as f:
            wanted = table(json.load(f))
        if args.print:
            print("\n".join(wanted))
            return 0
        with open(args.doc, encoding="utf-8") as f:
            before, found, after = split_page(f.read(), args.doc)
    except (OSError, ValueError, KeyError, DocError) as e:
        print(f"scenario-doc: {e}", file=sys.stderr)
        return 2
    if args.check:
        difference = first_difference(args.doc, len(before) + 1, found, wanted)
        if difference is None:
            return 0
        print(f"scenario-doc: {difference}\n(scripts/scenario-doc.py --write brings the table up "
              f"to date)", file=sys.stderr)
        return 1
    text = "\n".join(before + wanted + after)
    temporary = args.doc + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temporary, args.doc)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
