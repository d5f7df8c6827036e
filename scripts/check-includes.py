#!/usr/bin/env python3
"""Checks which folders of the source tree each file may include from.

The simulator is built in layers, each a library linked only to the layers
below it; but a header used only for its inline code or types passes the
linker, so the includes themselves are read here. Every broken rule is printed
as FILE:LINE: and the status is 1.

Usage: check-includes.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

# The simulator's layers, which the command-line programs build on.
SIM_LAYERS = {"sim/base", "sim/platform", "sim/game", "sim/observe", "sim/recording", "sim/host",
              "sim/replay", "sim/report"}
# What each folder's files may include from the project, besides their own
# folder. sim/report is the top: nothing else in sim/ includes it.
PROJECT_RULES = {
    "sim/base": set(),
    "sim/platform": {"sim/base"},
    "sim/game": {"sim/base"},
    "sim/observe": {"sim/base", "sim/game"},
    # Reading recordings and traces back: the live run (sim/host) needs none of it.
    "sim/recording": {"sim/base", "sim/game", "sim/observe"},
    "sim/host": {"sim/base", "sim/platform", "sim/game", "sim/observe"},
    "sim/replay": {"sim/base", "sim/platform", "sim/game", "sim/observe", "sim/recording",
                   "sim/host"},
    "sim/report": {"sim/base", "sim/platform", "sim/game", "sim/observe", "sim/recording",
                   "sim/host", "sim/replay"},
    # The plug-in never sees the simulator, the tools or the tests.
    "src": {"src"},
    # The recording build's own code sees the whole plug-in; the rest of the
    # plug-in sees only its hooks (see GATEWAYS).
    "src/recorder": {"src"},
    # The command-line programs stand on the simulator, each in its own folder:
    # they reach the plug-in as the host does, by loading it (see FILE_EXCEPTIONS).
    "tools": SIM_LAYERS,
    "tools/rebound-sim": SIM_LAYERS,
    "tools/soak": SIM_LAYERS,
}
# Files that include headers of the plug-in that their folder may not, each
# for a reason: the panel demo runs the HUD panel's own code as its script,
# and the Windows build's in-process host defines the host functions that
# code binds to.
FILE_EXCEPTIONS = {
    "tools/rebound-sim/panel_demo.h": {"src/hud/hud_bar.h"},
    "tools/rebound-sim/panel_demo.cpp": {"src/host/host_api.h", "src/hud/panel.h"},
    "tools/rebound-sim/in_process_host_windows.cpp": {"src/host/host_api.h"},
}
# A rule folder whose other files no folder outside it may include: only the
# headers named here, which any folder allowed the enclosing one may include.
GATEWAYS = {"src/recorder": {"src/recorder/hooks.h"}}
# sim/base stays portable and plain: the standard library and nlohmann/json.
SYSTEM_RULES = {"sim/base": re.compile(r"^(nlohmann/[\w./]+|[a-z_]+)$")}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".cpp"}


def folder_rule(relative):
    """The most specific rule folder that holds `relative`, or None."""
    best = None
    for folder in PROJECT_RULES:
        if relative.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def project_folder(included):
    """The rule folder an included project path belongs to, or its top folder."""
    return folder_rule(included) or included.split("/", 1)[0]


def check(root):
    """Every broken rule under `root` as 'FILE:LINE: message'."""
    faults = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        relative = path.relative_to(root).as_posix()
        folder = folder_rule(relative)
        if folder is None:
            continue
        allowed = PROJECT_RULES[folder] | {folder}
        system = SYSTEM_RULES.get(folder)
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, included = match.groups()
            where = f"{relative}:{number}:"
            if kind == '"' and included in FILE_EXCEPTIONS.get(relative, ()):
                continue
            if kind == '"':
                target = project_folder(included)
                gateway = target in GATEWAYS and target != folder
                if gateway and target.rsplit("/", 1)[0] in allowed:
                    if included not in GATEWAYS[target]:
                        faults.append(f"{where} {folder}/ may include only "
                                      f"{', '.join(sorted(GATEWAYS[target]))} of {target}/, "
                                      f"not {included}")
                elif target not in allowed:
                    faults.append(f"{where} {folder}/ may not include {included} "
                                  f"(it may include {', '.join(sorted(allowed))})")
            elif system is not None and not system.match(included):
                faults.append(f"{where} {folder}/ includes <{included}>: only the standard "
                              f"library and nlohmann/json belong there")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    if not (root / "sim").is_dir():
        print(f"check-includes: {root} has no sim/ folder", file=sys.stderr)
        return 2
    faults = check(root)
    for fault in faults:
        print(fault)
    print(f"check-includes: {len(faults)} broken include rule(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
