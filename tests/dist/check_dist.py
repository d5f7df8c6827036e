#!/usr/bin/env python3
"""Checks a package as a player, a tester and a release would meet it.

The player's package (--kind player) and the testers' package of the recording
build (--kind recorder) are checked alike:
  - the zip holds exactly its entries, in order: Rebound.asi, README.txt,
    LICENSE.txt and CHANGELOG.md for players; Rebound-recorder.asi, README.txt
    and LICENSE.txt for testers; all dated from SOURCE_DATE_EPOCH (else the
    commit time, else 1980-01-01), with fixed permissions and compression;
  - the DLL carries no debug sections and no symbol table, no time in its PE
    header, export directory or resource directories, passes the import check
    (system DLLs and the host's eight functions only, no exports), and has a
    version resource whose strings and numbers give the project version and
    the DLL's own file name;
  - the texts have CRLF line endings, the licence and changelog are the
    repository's, and the changelog has an entry for this version; the
    testers' README names the recording's file and both folders it goes to,
    the player's says how to check the zip against SHA256SUMS on Windows; no
    README line is wider than the others are written;
  - packing again gives the same bytes, and a DLL that fails the import check
    is refused without leaving a zip behind;
  - each kind of fault above, put into a copy of the package, is reported.

Usage: check_dist.py --zip ZIP [options] -- MAKE_DIST_ARGS...
"""

import argparse
import datetime
import io
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

# What each package holds and what its README must say. The testers' README
# names the recording's file and both of its folders, so that a tester can find
# it, and the player's DLL that a tester puts back afterwards.
PACKAGES = {
    "player": {
        "entries": ["Rebound.asi", "README.txt", "LICENSE.txt", "CHANGELOG.md"],
        "title": "Rebound {version}",
        "product": "Rebound",
        # How to check the zip against the release's SHA256SUMS, on Windows
        # too, for players whose antivirus program flags the plug-in.
        "readme_mentions": ["SHA256SUMS", "certutil -hashfile Rebound-{version}.zip SHA256",
                            "Get-FileHash Rebound-{version}.zip"],
    },
    "recorder": {
        "entries": ["Rebound-recorder.asi", "README.txt", "LICENSE.txt"],
        "title": "Rebound recording build {version}",
        "product": "Rebound (recording build)",
        "readme_mentions": ["Rebound-recording-", "%LOCALAPPDATA%\\Rebound\\recordings\\",
                            "Rebound.asi"],
    },
}
ENTRY_MODE = 0o100644
# The READMEs' lines stay within this width, as they are written.
README_WIDTH = 76
RT_VERSION = 16
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_DLL = 2
IMAGE_DIRECTORY_ENTRY_EXPORT = 0
IMAGE_DIRECTORY_ENTRY_RESOURCE = 2


# --- PE reading -------------------------------------------------------------


class PeError(Exception):
    pass


class Pe:
    """The parts of a PE32+ file that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe + 4
        (self.machine, sections, self.timestamp, self.symbol_table, self.symbols, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, coff)
        self.timestamp_offset = coff + 4
        optional = coff + 20
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise PeError("not a PE32+ (64-bit) image")
        directories = struct.unpack_from("<I", data, optional + 108)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                            for i in range(directories)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data,
                                                                       table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for _, vaddr, size, raw_ptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_ptr + rva - vaddr
        raise PeError(f"address 0x{rva:x} lies in no section")

    def directory(self, index):
        if index >= len(self.directories) or self.directories[index][0] == 0:
            return None
        return self.directories[index]

    def export_timestamp(self):
        entry = self.directory(IMAGE_DIRECTORY_ENTRY_EXPORT)
        if entry is None:
            return None
        return struct.unpack_from("<I", self.data, self.offset(entry[0]) + 4)[0]

    def resources(self):
        """Every resource directory's time stamp and every leaf's data by (type, name, lang)."""
        entry = self.directory(IMAGE_DIRECTORY_ENTRY_RESOURCE)
        if entry is None:
            return [], {}
        base = self.offset(entry[0])
        stamps, leaves = [], {}

        def walk(offset, path):
            if len(path) > 3:
                raise PeError("resource tree deeper than type/name/language")
            _, stamp, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + offset)
            stamps.append(stamp)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                key = ("name", key & 0x7FFFFFFF) if key & 0x80000000 else key
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + [key])
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    leaves[tuple(path + [key])] = self.data[start:start + size]

        walk(0, [])
        return stamps, leaves


def parse_version_block(blob, offset=0):
    """One VS_VERSIONINFO-style block: (key, value, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, offset)
    if length < 6 or offset + length > len(blob):
        raise PeError(f"version block at {offset} has a bad length {length}")
    end = offset + length
    pos = offset + 6
    key_end = pos
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    if kind == 1:  # text: the length counts UTF-16 units, the terminator included
        value = blob[pos:pos + 2 * value_length].decode("utf-16-le").rstrip("\0")
        pos += 2 * value_length
    else:
        value = blob[pos:pos + value_length]
        pos += value_length
    children = []
    pos = (pos + 3) & ~3
    while pos < end:
        child = parse_version_block(blob, pos)
        children.append(child[:3])
        pos = (child[3] + 3) & ~3
    return key, value, children, end


def version_info(pe):
    """(fixed file info fields, {string name: value}) of the one version resource."""
    _, leaves = pe.resources()
    versions = [data for path, data in leaves.items() if path[0] == RT_VERSION]
    if len(versions) != 1:
        raise PeError(f"{len(versions)} version resources, expected 1")
    key, fixed, children, _ = parse_version_block(versions[0])
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        raise PeError(f"version resource starts with {key!r} and {len(fixed)} bytes of fixed info")
    fields = struct.unpack("<13I", fixed)
    strings = {}
    for child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, table in tables:
                for name, value, _ in table:
                    strings[name] = value
    return fields, strings


# --- Checks -----------------------------------------------------------------


def section_names(objdump, path):
    out = subprocess.run([objdump, "-h", path], check=True, capture_output=True, text=True).stdout
    names = []
    for line in out.splitlines():
        fields = line.split()
        if len(fields) >= 7 and fields[0].isdigit():
            names.append(fields[1])
    return names


def expected_date(source_dir):
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value is None:
        git = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True)
        value = git.stdout if git.returncode == 0 else "0"
    t = datetime.datetime.fromtimestamp(max(int(value), 315532800), tz=datetime.timezone.utc)
    return (t.year, t.month, t.day, t.hour, t.minute, t.second - t.second % 2)


def line_ending_faults(name, data):
    if data.count(b"\n") == 0:
        return [f"{name}: no lines"]
    if data.count(b"\r\n") != data.count(b"\n") or data.count(b"\r") != data.count(b"\n"):
        return [f"{name}: line endings are not all CRLF"]
    return []


def dll_faults(args, name, data):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        debug = [n for n in section_names(args.objdump, path) if n.startswith(".debug")]
        if debug:
            faults.append(f"{name}: debug sections {', '.join(debug)}")
        check = subprocess.run(["bash", args.check_imports, path], capture_output=True, text=True)
        if check.returncode != 0:
            faults.append(f"{name}: the import check rejects it:\n{check.stdout}")
    try:
        pe = Pe(data)
        if pe.symbol_table != 0 or pe.symbols != 0:
            faults.append(f"{name}: a symbol table of {pe.symbols} symbols")
        if pe.timestamp != 0:
            faults.append(f"{name}: PE header time 0x{pe.timestamp:x}, expected 0")
        export_stamp = pe.export_timestamp()
        if export_stamp not in (None, 0):
            faults.append(f"{name}: export directory time 0x{export_stamp:x}, expected 0")
        stamps, _ = pe.resources()
        if any(stamps):
            faults.append(f"{name}: resource directory times {stamps}, expected 0")
        fixed, strings = version_info(pe)
    except PeError as error:
        return faults + [f"{name}: {error}"]

    major, minor, patch = (int(p) for p in args.version.split("."))
    if fixed[0] != VS_FIXEDFILEINFO_SIGNATURE:
        faults.append(f"{name}: fixed file info signature 0x{fixed[0]:x}")
    numbers = (major << 16 | minor, patch << 16)
    for label, got in (("FileVersion", fixed[2:4]), ("ProductVersion", fixed[4:6])):
        if tuple(got) != numbers:
            faults.append(f"{name}: fixed {label} {got[0] >> 16}.{got[0] & 0xFFFF}."
                          f"{got[1] >> 16}.{got[1] & 0xFFFF}, expected {args.version}.0")
    if fixed[9] != VFT_DLL:
        faults.append(f"{name}: file type {fixed[9]}, expected a DLL ({VFT_DLL})")
    wanted = {
        "ProductName": PACKAGES[args.kind]["product"],
        "FileVersion": args.version,
        "ProductVersion": args.version,
        "OriginalFilename": name,
        "LegalCopyright": f"Copyright (c) {args.year} the Rebound authors",
    }
    for key, value in wanted.items():
        if strings.get(key) != value:
            faults.append(f"{name}: {key} is {strings.get(key)!r}, expected {value!r}")
    if not strings.get("FileDescription"):
        faults.append(f"{name}: no FileDescription")
    return faults


def package_faults(args, zip_bytes):
    package = PACKAGES[args.kind]
    entries = package["entries"]
    faults = []
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as zf:
        infos = zf.infolist()
        names = [i.filename for i in infos]
        if names != entries:
            faults.append(f"entries are {names}, expected {entries}")
        date = expected_date(args.source_dir)
        for info in infos:
            if info.date_time != date:
                faults.append(f"{info.filename}: dated {info.date_time}, expected {date}")
            if info.external_attr >> 16 != ENTRY_MODE or info.create_system != 3:
                faults.append(f"{info.filename}: mode {oct(info.external_attr >> 16)}")
            if info.compress_type != zipfile.ZIP_DEFLATED:
                faults.append(f"{info.filename}: compression {info.compress_type}")
        files = {name: zf.read(name) for name in names}

    if entries[0] in files:
        faults += dll_faults(args, entries[0], files[entries[0]])
    for name in entries[1:]:
        if name in files:
            faults += line_ending_faults(name, files[name])
    readme = files.get("README.txt", b"")
    title = package["title"].format(version=args.version)
    if not readme.startswith(f"{title}\r\n".encode()):
        faults.append(f"README.txt: does not open with '{title}'")
    try:
        text = readme.decode("ascii")
    except UnicodeDecodeError:
        faults.append("README.txt: not plain ASCII text")
        text = ""
    if "@" in text:
        faults.append("README.txt: a configure variable was left unreplaced ('@')")
    for mention in package["readme_mentions"]:
        mention = mention.format(version=args.version)
        if mention not in text:
            faults.append(f"README.txt: does not mention {mention}")
    for number, line in enumerate(text.split("\r\n"), 1):
        if len(line) > README_WIDTH:
            faults.append(f"README.txt: line {number} has {len(line)} characters, over "
                          f"{README_WIDTH}")
    repo_texts = [("LICENSE.txt", args.license)]
    if "CHANGELOG.md" in entries:
        repo_texts.append(("CHANGELOG.md", args.changelog))
    for name, repo_file in repo_texts:
        with open(repo_file, "rb") as f:
            repo = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        if name in files and files[name] != repo:
            faults.append(f"{name}: differs from {repo_file}")
    notice = f"Copyright (c) {args.year} the Rebound authors\r\n".encode()
    if notice not in files.get("LICENSE.txt", b""):
        faults.append(f"LICENSE.txt: no line '{notice.decode().strip()}'")
    if ("CHANGELOG.md" in entries
            and f"\r\n## [{args.version}]".encode() not in files.get("CHANGELOG.md", b"")):
        faults.append(f"CHANGELOG.md: no entry '## [{args.version}]'")
    return faults


# --- Faults put into copies of the package ------------------------------------


def rezip(zip_bytes, change):
    """A copy of the package with change(files) applied to its {name: bytes}."""
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as zf:
        infos = zf.infolist()
        files = {i.filename: zf.read(i) for i in infos}
    change(files)
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as zf:
        for name, data in files.items():
            info = next((i for i in infos if i.filename == name), None)
            info = info or zipfile.ZipInfo(name, infos[0].date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, data)
    return out.getvalue()


def patched(data, offset, value):
    return data[:offset] + struct.pack("<I", value) + data[offset + 4:]


def mutations(args):
    with open(args.unstripped, "rb") as f:
        unstripped = f.read()
    dll_name = PACKAGES[args.kind]["entries"][0]
    year = args.year.encode("utf-16-le")
    other_year = str(int(args.year) - 1).encode("utf-16-le")

    def dll(change):
        return lambda files: files.__setitem__(dll_name, change(files[dll_name]))

    def readme(change):
        return lambda files: files.__setitem__("README.txt", change(files["README.txt"]))

    def bump_fixed_patch(d):
        # In the resources: the recorder's code holds the signature too, as
        # it reads the versions of the host and the game.
        rsrc = next(raw_ptr for name, _, _, raw_ptr in Pe(d).sections if name == b".rsrc")
        at = d.index(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE), rsrc)
        return patched(d, at + 12, struct.unpack_from("<I", d, at + 12)[0] + (1 << 16))

    found = [
        ("a file too many", lambda files: files.__setitem__("notes.txt", b"x\r\n"),
         "entries are"),
        ("the unstripped DLL", dll(lambda d: unstripped), "debug sections"),
        ("a link time", dll(lambda d: patched(d, Pe(d).timestamp_offset, 0x6B18122D)),
         "PE header time"),
        ("another year in the resource", dll(lambda d: d.replace(year, other_year)),
         "LegalCopyright"),
        ("another patch number in the fixed info", dll(bump_fixed_patch), "fixed FileVersion"),
        ("a README with LF line endings", readme(lambda r: r.replace(b"\r\n", b"\n")),
         "README.txt: line endings"),
        ("a README line over the width", readme(lambda r: r.replace(b"\r\n", b" " * 70, 1)),
         "README.txt: line 1 has"),
    ]
    if args.kind == "player":
        found.append((
            "a changelog without this version",
            lambda files: files.__setitem__(
                "CHANGELOG.md", files["CHANGELOG.md"].replace(f"[{args.version}]".encode(), b"[0.0.0]")),
            "CHANGELOG.md: no entry"))
        found.append((
            "a README that does not say how to check the zip on Windows",
            readme(lambda r: r.replace(b"certutil", b"CertUtil")), "README.txt: does not mention"))
    else:
        found += [
            ("a README that leaves out the fallback folder",
             readme(lambda r: r.replace(b"%LOCALAPPDATA%", b"%APPDATA%")),
             "README.txt: does not mention %LOCALAPPDATA%"),
            ("the player's DLL under the recorder's name",
             dll(lambda d: d.replace("Rebound-recorder.asi".encode("utf-16-le"),
                                     "Rebound.asi".encode("utf-16-le") + b"\0" * 18)),
             "OriginalFilename"),
        ]
    return found


# --- Main -------------------------------------------------------------------


def main():
    argv = sys.argv[1:]
    split = argv.index("--") if "--" in argv else len(argv)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--zip", required=True, help="the package the dist target packed")
    parser.add_argument("--kind", choices=sorted(PACKAGES), default="player",
                        help="which package it is (default: the player's)")
    parser.add_argument("--version", required=True, help="the project version")
    parser.add_argument("--year", required=True, help="the year of the copyright notice")
    parser.add_argument("--license", required=True, help="the repository's LICENSE.txt")
    parser.add_argument("--changelog", help="the repository's CHANGELOG.md (the player's package)")
    parser.add_argument("--source-dir", required=True, help="the checkout")
    parser.add_argument("--unstripped", required=True, help="the package's DLL, unstripped")
    parser.add_argument("--rejected-dll", required=True,
                        help="a DLL that the import check rejects, which must not be packed")
    parser.add_argument("--make-dist", required=True, help="scripts/make-dist.py")
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--check-imports", required=True, help="scripts/check-dll-imports.sh")
    args = parser.parse_args(argv[:split])
    if args.kind == "player" and not args.changelog:
        parser.error("the player's package needs --changelog")
    make_dist_args = argv[split + 1:]

    failures = []
    with open(args.zip, "rb") as f:
        built = f.read()
    faults = package_faults(args, built)
    print(f"{args.zip}: {len(faults)} faults")
    failures += faults

    for what, change, expected in mutations(args):
        faults = package_faults(args, rezip(built, change))
        seen = any(expected in fault for fault in faults)
        print(f"  with {what}: {'reported' if seen else 'NOT REPORTED'}")
        if not seen:
            failures.append(f"a package with {what} is not reported as '{expected}': {faults}")

    with tempfile.TemporaryDirectory() as tmp:
        packed = []
        for run in ("first", "second"):
            out = os.path.join(tmp, run, os.path.basename(args.zip))
            subprocess.run([sys.executable, args.make_dist, "--out", out] + make_dist_args,
                           check=True, capture_output=True)
            with open(out, "rb") as f:
                packed.append(f.read())
        if packed[0] != packed[1]:
            failures.append("packing twice gives different bytes")
        elif packed[0] != built:
            failures.append(f"packing again gives other bytes than {args.zip}; "
                            "was it packed from another commit?")
        else:
            print("  packed twice more: the same bytes")

        refused = os.path.join(tmp, "refused", "Rebound.zip")
        dll_at = make_dist_args.index("--dll") + 1
        bad_args = make_dist_args[:dll_at] + [args.rejected_dll] + make_dist_args[dll_at + 1:]
        result = subprocess.run([sys.executable, args.make_dist, "--out", refused] + bad_args,
                                capture_output=True, text=True)
        leftovers = os.listdir(os.path.dirname(refused)) if os.path.isdir(
            os.path.dirname(refused)) else []
        if result.returncode == 0 or "fails the import check" not in result.stderr or leftovers:
            failures.append(f"a DLL that fails the import check is not refused cleanly: exit "
                            f"{result.returncode}, files left {leftovers}, {result.stderr}")
        else:
            print("  a DLL that fails the import check: refused, nothing written")

    for failure in failures:
        print(f"FAIL: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
