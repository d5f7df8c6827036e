#!/usr/bin/env python3
"""The modders' package as a modder on Windows uses it, under Wine: unpacked
into a fresh folder whose path has spaces and letters outside ASCII, with no
ScriptHookV.dll beside rebound-sim.exe (the stand-in is in stand-in-host\\),
rebound-sim.exe runs the built-in scenario and a shipped one by the package's
own relative paths, writes a report, and the report, opened in headless
Chromium, shows the run: its script fills the frame viewer from the frames
the run recorded. Without its stand-in-host folder the package fails to
start, naming where the stand-in belongs.

Usage: sim_package_wine_test.py ZIP EMULATOR WORK_DIR [CHROMIUM]
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ZIP, EMULATOR, WORK_DIR = sys.argv[1:4]
CHROMIUM = sys.argv[4] if len(sys.argv) > 4 else "/usr/bin/chromium"
SHIPPED_SCENARIO = "scenarios\\two-deaths.json"
RUN_TIMEOUT_S = 120


class Failed(Exception):
    pass


def unpack(folder):
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    with zipfile.ZipFile(ZIP) as zf:
        zf.extractall(folder)
    beside = [n for n in os.listdir(folder) if n.lower() == "scripthookv.dll"]
    if beside:
        raise Failed(f"{folder}: a ScriptHookV.dll beside rebound-sim.exe: {beside}")
    if not os.path.isfile(os.path.join(folder, "stand-in-host", "ScriptHookV.dll")):
        raise Failed(f"{folder}: no stand-in-host/ScriptHookV.dll")


def sim(folder, *args):
    """rebound-sim.exe of the unpacked package, run from its folder."""
    result = subprocess.run([EMULATOR, os.path.join(folder, "rebound-sim.exe"), *args],
                            cwd=folder, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    print(f"rebound-sim.exe {' '.join(args)}: status {result.returncode}")
    return result


def run_ok(folder, *args):
    result = sim(folder, *args)
    if result.returncode != 0:
        raise Failed(f"rebound-sim.exe {' '.join(args)} exited with status "
                     f"{result.returncode}:\n{result.stdout}{result.stderr}")
    return result


def dom_of(report):
    """The report's page after its script ran, as headless Chromium has it."""
    with tempfile.TemporaryDirectory() as profile:
        result = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--disable-extensions", "--user-data-dir=" + profile,
             "--dump-dom", "file://" + report],
            capture_output=True, text=True, timeout=60)
    if result.returncode != 0 or "</html>" not in result.stdout:
        raise Failed(f"Chromium did not show {report}: status {result.returncode}\n"
                     f"{result.stderr[-2000:]}")
    return result.stdout


def check_report(report):
    with open(report, encoding="utf-8") as f:
        page = f.read()
    data = re.search(r'<script[^>]*id="report-data"[^>]*>(.*?)</script>', page, re.S)
    if not data:
        raise Failed(f"{report}: no report data")
    frames = len(json.loads(data.group(1))["frames"])
    # The page as written leaves the viewer empty; its script fills it.
    if re.search(r'id="v-pos"[^>]*>[^<]', page):
        raise Failed(f"{report}: the viewer's position is filled before the script runs")
    dom = dom_of(report)
    shown = re.search(r'id="v-pos"[^>]*>([^<]*)<', dom)
    wanted = f"1 / {frames}"
    if not shown or shown.group(1) != wanted:
        raise Failed(f"the report in Chromium shows {shown.group(1) if shown else 'no viewer'!r} "
                     f"at the viewer's position, expected '{wanted}'")
    calls = re.search(r'id="v-calls"[^>]*>(.*?)</ol>', dom, re.S)
    if not calls or "<li" not in calls.group(1):
        raise Failed("the report in Chromium lists no native calls for the first frame")
    if "two deaths in a row" not in dom:
        raise Failed("the report in Chromium does not name the scenario 'two deaths in a row'")
    print(f"report in Chromium: viewer at {wanted}, the first frame's native calls listed")


def main():
    folder = os.path.join(os.path.abspath(WORK_DIR), "Modder Files", "Prüfung ñ",
                          "Rebound-sim")
    unpack(folder)
    result = run_ok(folder, "--summary")
    if "respawn" not in result.stdout.lower():
        raise Failed(f"the built-in scenario shows no respawn:\n{result.stdout}")
    run_ok(folder, "--quiet", "--scenario", SHIPPED_SCENARIO, "--report", "run ñ.html")
    check_report(os.path.join(folder, "run ñ.html"))

    shutil.rmtree(os.path.join(folder, "stand-in-host"))
    result = sim(folder, "--quiet")
    if result.returncode == 0 or "stand-in-host" not in result.stderr:
        raise Failed("without stand-in-host, rebound-sim.exe exited with status "
                     f"{result.returncode} and did not name the folder:\n{result.stderr}")
    print("without stand-in-host: refused, naming the folder")


if __name__ == "__main__":
    try:
        main()
    except (Failed, subprocess.TimeoutExpired) as error:
        print(f"FAIL: {error}")
        sys.exit(1)
    print("sim_package_wine_test: passed")
