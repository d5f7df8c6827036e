"""The HTML report as a modder sees it, in headless Chromium: the page loads
from disk without a script error or a console error and asks for nothing
over the network; the viewer steps through its frames with the arrow keys,
Page Down, End and space; the timeline, the key frames and the maps are
there; and screenshots of the page are saved for a person to look at.

Chromium is driven over its DevTools pipe (file descriptors 3 and 4), with
nothing but the standard library.

Usage: report_browser_test.py REBOUND_SIM SCENARIO OUT_DIR [CHROMIUM]"""

import base64
import fcntl
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

SIM, SCENARIO, OUT_DIR = (os.path.abspath(a) for a in sys.argv[1:4])
CHROMIUM = sys.argv[4] if len(sys.argv) > 4 else shutil.which("chromium") or "chromium"
TIMEOUT_S = 20.0


class Browser:
    """One headless Chromium and the page it shows, over the DevTools pipe."""

    def __init__(self, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        # Chromium looks for its ends of the pipes at descriptors 3 and 4:
        # bash puts them there, from descriptors clear of those.
        ends = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser_r, from_browser_w)]
        for fd in (to_browser_r, from_browser_w):
            os.close(fd)
        to_browser_r, from_browser_w = ends
        redirect = (f'exec "$0" "$@" 3<&{to_browser_r} 4>&{from_browser_w} '
                    f'{to_browser_r}<&- {from_browser_w}>&-')
        # The flags keep it off the network: this machine has none to offer.
        self.process = subprocess.Popen(
            ["bash", "-c", redirect, CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--disable-extensions",
             "--hide-scrollbars", "--user-data-dir=" + profile, "--remote-debugging-pipe",
             "about:blank"],
            pass_fds=(to_browser_r, from_browser_w),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        try:
            self.send("Browser.close", session=False)
        except (OSError, RuntimeError):
            pass
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)

    def read_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_browser], [], [], left)[0]:
                raise RuntimeError("Chromium did not answer in time")
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise RuntimeError("Chromium closed its DevTools pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=True):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + TIMEOUT_S
        while True:
            message = self.read_message(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method, deadline_s=TIMEOUT_S):
        deadline = time.monotonic() + deadline_s
        for i, event in enumerate(self.events):
            if event.get("method") == method:
                return self.events.pop(i)
        while True:
            message = self.read_message(deadline)
            if message.get("method") == method:
                return message
            self.events.append(message)

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def key(self, key, code, key_code):
        for kind in ("rawKeyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", {"type": kind, "key": key, "code": code,
                                                 "windowsVirtualKeyCode": key_code})

    def screenshot(self, path, full_page=False):
        params = {"format": "png"}
        if full_page:
            size = self.evaluate("[document.documentElement.scrollWidth,"
                                 " document.documentElement.scrollHeight]")
            params.update(captureBeyondViewport=True,
                          clip={"x": 0, "y": 0, "width": size[0], "height": size[1], "scale": 1})
        data = self.send("Page.captureScreenshot", params)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))


def main():
    if shutil.which(CHROMIUM) is None:
        print(f"FAIL: no Chromium at {CHROMIUM}: scripts/install-deps.sh installs it")
        return 1
    os.makedirs(OUT_DIR, exist_ok=True)
    report = os.path.join(OUT_DIR, "report.html")
    subprocess.run([SIM, "--quiet", "--seed", "7", "--scenario", SCENARIO, "--report", report],
                   check=True, timeout=60)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    # The viewer's call lists name hash-only natives as the terminal does.
    with open(report, encoding="utf-8") as f:
        names = json.loads(re.search(r'id="report-data">(.*?)</script>', f.read(), re.S)[1])["names"]
    check(any(re.fullmatch(r"game function 0x[0-9A-F]{16} \(no public name\)", n) for n in names),
          f"no hash-only native named in the viewer's calls: {names}")
    check(not any(n.startswith("0x") for n in names), f"a bare hash among the names: {names}")

    with tempfile.TemporaryDirectory(prefix="rebound-chromium-") as profile:
        browser = Browser(profile)
        try:
            target = browser.send("Target.getTargets", session=False)["targetInfos"]
            page = next(t for t in target if t["type"] == "page")
            browser.session = browser.send("Target.attachToTarget",
                                           {"targetId": page["targetId"], "flatten": True},
                                           session=False)["sessionId"]
            for domain in ("Page", "Runtime", "Log", "Network"):
                browser.send(domain + ".enable")
            browser.send("Emulation.setDeviceMetricsOverride",
                         {"width": 1500, "height": 1000, "deviceScaleFactor": 1, "mobile": False})
            browser.send("Page.navigate", {"url": "file://" + report})
            browser.wait_for("Page.loadEventFired")

            state = ("[document.getElementById('viewer').dataset.index,"
                     " document.getElementById('viewer').dataset.frame]")
            frames = browser.evaluate(
                "JSON.parse(document.getElementById('report-data').textContent).frames"
                ".map(f => [f.f, f.k || ''])")
            keys = [i for i, (_, k) in enumerate(frames) if k]
            check(len(frames) > 100, f"only {len(frames)} frames in the viewer")
            check(len(keys) == 9, f"{len(keys)} key frames, expected the 9 of one death")
            # The viewer opens on the first key frame.
            start = int(browser.evaluate(state)[0])
            check(start == keys[0], f"opened at frame index {start}, not at the first key frame")
            browser.evaluate("document.getElementById('frames').scrollIntoView()")
            browser.key("ArrowRight", "ArrowRight", 39)
            browser.key("ArrowRight", "ArrowRight", 39)
            index, frame = browser.evaluate(state)
            check(int(index) == start + 2 and int(frame) == frames[start + 2][0],
                  f"two steps right from {start} showed index {index}, frame {frame}")
            browser.key("ArrowLeft", "ArrowLeft", 37)
            check(int(browser.evaluate(state)[0]) == start + 1, "a step left did not go back")
            browser.key("PageDown", "PageDown", 34)
            check(int(browser.evaluate(state)[0]) == keys[1], "Page Down did not reach key frame 2")
            # What stands beside the picture follows the frame shown.
            side = browser.evaluate(
                "[document.getElementById('v-frame').textContent,"
                " document.getElementById('v-phase').textContent,"
                " document.querySelectorAll('#v-calls li').length,"
                " document.querySelectorAll('#v-picture svg').length,"
                " document.querySelector('#v-inset svg').getAttribute('viewBox')]")
            check(side[0].startswith(str(frames[keys[1]][0])), f"frame shown beside: {side[0]}")
            check(side[1] == "BarFilling", f"phase beside the bar's first frame: {side[1]}")
            check(side[2] > 0, "no native calls listed beside the picture")
            check(side[3] == 1, f"{side[3]} pictures in the viewer")
            check(side[4] and side[4] != "0 0 1280 720", f"the inset shows {side[4]}")
            browser.screenshot(os.path.join(OUT_DIR, "report-viewer.png"))
            # Space plays: the viewer moves on by itself, and space pauses it.
            browser.key(" ", "Space", 32)
            time.sleep(0.4)
            browser.key(" ", "Space", 32)
            played = int(browser.evaluate(state)[0])
            check(played > keys[1], f"playing did not move on from {keys[1]} (at {played})")
            check(browser.evaluate("document.getElementById('viewer').dataset.playing") == "false",
                  "space did not pause")
            browser.key("End", "End", 35)
            check(int(browser.evaluate(state)[0]) == len(frames) - 1, "End did not reach the end")
            # The timeline, the key frames' pictures and the maps are drawn.
            counts = browser.evaluate(
                "[document.querySelectorAll('#tl .band').length,"
                " document.querySelectorAll('#tl .fill').length,"
                " document.querySelectorAll('#tl .mk-2').length,"
                " document.querySelectorAll('figure.key .thumb svg').length,"
                " document.querySelectorAll('figure.map svg').length]")
            check(counts[0] >= 4, f"{counts[0]} phase bands on the timeline")
            check(counts[1] == 1 and counts[2] == 1, f"fill line and death mark: {counts[1:3]}")
            check(counts[3] == len(keys), f"{counts[3]} key frame pictures of {len(keys)}")
            check(counts[4] == 1, f"{counts[4]} maps for one death")
            # A click on a key frame opens it in the viewer.
            browser.evaluate(f"document.querySelector('figure.key[data-i=\"{keys[5]}\"]').click()")
            check(int(browser.evaluate(state)[0]) == keys[5], "a click on a key frame did not open it")
            browser.evaluate("window.scrollTo(0, 0)")
            browser.screenshot(os.path.join(OUT_DIR, "report-full.png"), full_page=True)
        finally:
            browser.close()

    errors = [e for e in browser.events if e.get("method") == "Runtime.exceptionThrown"]
    errors += [e for e in browser.events if e.get("method") == "Runtime.consoleAPICalled"
               and e["params"].get("type") in ("error", "assert")]
    errors += [e for e in browser.events if e.get("method") == "Log.entryAdded"
               and e["params"]["entry"].get("level") == "error"]
    check(not errors, "script or console errors: " + json.dumps(errors)[:2000])
    fetched = [e["params"]["request"]["url"] for e in browser.events
               if e.get("method") == "Network.requestWillBeSent"]
    outside = [u for u in fetched if not u.startswith(("file:", "data:", "about:"))]
    check(not outside, f"the page asked the network for {outside}")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("the report loads without errors and its viewer steps through the frames")
    print("screenshots:", os.path.join(OUT_DIR, "report-viewer.png"),
          os.path.join(OUT_DIR, "report-full.png"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
