#!/usr/bin/env python3
"""The modders' package as a modder on Windows uses it, under Wine: unpacked
into a fresh folder whose path has spaces and letters outside ASCII, with no
ScriptHookV.dll beside rebound-sim.exe, it runs the built-in scenario and a
shipped one by the package's relative paths and writes a report, which
headless Chromium shows with the viewer its script fills from the run's
frames. Without stand-in-host\\ the run is refused, naming that folder.

Usage: sim_package_wine_test.py ZIP EMULATOR WORK_DIR CHROMIUM
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ZIP, EMULATOR, WORK_DIR, CHROMIUM = sys.argv[1:5]


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def sim(folder, *args):
    result = subprocess.run([EMULATOR, os.path.join(folder, "rebound-sim.exe"), *args],
                            cwd=folder, capture_output=True, text=True, timeout=120)
    print(f"rebound-sim.exe {' '.join(args)}: status {result.returncode}")
    return result


def run_ok(folder, *args):
    result = sim(folder, *args)
    if result.returncode != 0:
        fail(f"status {result.returncode}:\n{result.stdout}{result.stderr}")
    return result


def check_report(report):
    with open(report, encoding="utf-8") as f:
        page = f.read()
    data = re.search(r'id="report-data">(.*?)</script>', page, re.S)
    frames = len(json.loads(data.group(1))["frames"]) if data else 0
    # As written, the page leaves the viewer empty: its script fills it.
    if frames == 0 or re.search(r'id="v-pos"[^>]*>[^<]', page):
        fail(f"{report}: no frames, or a viewer filled before the script runs")
    with tempfile.TemporaryDirectory() as profile:
        dom = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile, "--dump-dom", "file://" + report],
            capture_output=True, text=True, timeout=60).stdout
    shown = re.search(r'id="v-pos"[^>]*>([^<]*)<', dom)
    calls = re.search(r'id="v-calls"[^>]*>(.*?)</ol>', dom, re.S)
    if not shown or shown.group(1) != f"1 / {frames}" or not calls or "<li" not in calls.group(1):
        fail(f"Chromium shows the viewer at {shown and shown.group(1)!r}, expected "
             f"'1 / {frames}', with the first frame's native calls listed")
    if "two deaths in a row" not in dom:
        fail("the report in Chromium does not name the scenario 'two deaths in a row'")
    print(f"the report in Chromium: the viewer at 1 / {frames}, with its native calls")


def main():
    folder = os.path.join(os.path.abspath(WORK_DIR), "Modder Files", "Prüfung ñ", "Rebound-sim")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with zipfile.ZipFile(ZIP) as zf:
        zf.extractall(folder)
    if any(n.lower() == "scripthookv.dll" for n in os.listdir(folder)):
        fail(f"a ScriptHookV.dll beside rebound-sim.exe in {folder}")
    if "respawn" not in run_ok(folder, "--summary").stdout.lower():
        fail("the built-in scenario shows no respawn")
    run_ok(folder, "--quiet", "--scenario", "scenarios\\two-deaths.json", "--report", "run ñ.html")
    check_report(os.path.join(folder, "run ñ.html"))

    shutil.rmtree(os.path.join(folder, "stand-in-host"))
    result = sim(folder, "--quiet")
    if result.returncode == 0 or "stand-in-host" not in result.stderr:
        fail(f"without stand-in-host: status {result.returncode}, {result.stderr!r}")
    print("sim_package_wine_test: passed")


if __name__ == "__main__":
    main()
