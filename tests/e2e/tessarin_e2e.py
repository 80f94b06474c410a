"""Driving the real Tessarin.exe from outside, as an installer would: start it under Wine,
find its window, click with xdotool, read its controls with wininspect, take screenshots.

Runs only inside tests/lan/sandbox (or the test LAN's PC namespace), which provides the Wine
prefix, its wineserver in the right network namespace, and the display.
"""

import json
import os
import subprocess
import sys
import time
import traceback

TITLE = "Tessarin"
WM_CLOSE = 0x0010
WM_REMOTE_CLOSE = 6024


def require_sandbox():
    if os.environ.get("TESSARIN_SANDBOX") != "1":
        sys.exit("e2e tests run inside tests/lan/sandbox only")


class Tool:
    """One running Tessarin.exe and the means to look at it."""

    def __init__(self, exe, inspector, artifacts, args=()):
        self.exe = exe
        self.inspector = inspector
        self.artifacts = artifacts
        self.wine = os.environ["TESSARIN_WINE"]
        os.makedirs(artifacts, exist_ok=True)
        self.process = subprocess.Popen([self.wine, exe, *args], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def inspect(self, *args, check=True):
        for attempt in range(2):
            result = subprocess.run([self.wine, self.inspector, *args], capture_output=True,
                                    text=True, encoding="utf-8", timeout=60)
            # The inspector explains every failure of its own on stderr. A silent one is Wine
            # failing to run it at all (seen rarely under load): that one run is repeated.
            if result.returncode == 0 or result.stderr.strip() or attempt == 1:
                break
            print(f"wininspect {' '.join(args)} ended silently with {result.returncode};"
                  " running it again", flush=True)
        if check and result.returncode != 0:
            raise AssertionError(f"wininspect {' '.join(args)} ended with {result.returncode}:"
                                 f" {result.stderr.strip()}")
        return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]

    def wait_for_window(self, timeout_ms=30000):
        return self.inspect("wait", "--title", TITLE, "--timeout", str(timeout_ms))[0]

    def controls(self):
        """The main window's own controls by id (the upgrade panel's are under its path)."""
        return {c["id"]: c for c in self.inspect("controls", "--title", TITLE) if c["path"] == []}

    def rect(self, control_id=None):
        args = ["rect", "--title", TITLE]
        if control_id is not None:
            args += ["--id", str(control_id)]
        return self.inspect(*args)[0]

    def click(self, control_id):
        r = self.rect(control_id)
        xdotool("mousemove", str(r["cx"]), str(r["cy"]), "click", "1")
        time.sleep(0.3)

    def post(self, message):
        self.inspect("post", "--title", TITLE, "--msg", str(message))

    def screenshot(self, name):
        path = os.path.join(self.artifacts, name)
        subprocess.run(["import", "-window", "root", path], check=True, timeout=30)
        return path

    def wait_exit(self, timeout=10):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.running():
            self.process.kill()
            self.process.wait()


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=30)


def run_tests(tests):
    """Runs each test function, prints one line per test and the closing count line."""
    require_sandbox()
    # TESSARIN_E2E_ONLY=name runs one test of the file, for a closer look.
    only = os.environ.get("TESSARIN_E2E_ONLY")
    tests = [t for t in tests if not only or t.__name__ == only]
    passed = failed = 0
    for test in tests:
        try:
            test()
            passed += 1
            print(f"PASS {test.__name__}", flush=True)
        except Exception:  # noqa: BLE001 - every failure is reported the same way
            failed += 1
            print(f"FAIL {test.__name__}", flush=True)
            traceback.print_exc()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def devsim_events(event=None):
    """Every JSON line the simulated devices logged, in time order, optionally one kind."""
    lan = os.environ["TESSARIN_LAN_DIR"]
    count = int(os.environ["TESSARIN_LAN_DEVICES"])
    events = []
    for n in range(1, count + 1):
        path = os.path.join(lan, "devices", f"{n}.log")
        with open(path, encoding="utf-8") as log:
            for line in log:
                record = json.loads(line)
                record["device"] = n
                if event is None or record.get("event") == event:
                    events.append(record)
    return sorted(events, key=lambda record: record["time_ms"])


def wait_until(condition, timeout=10.0, interval=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


def list_rows(tool, list_id=1000):
    """The device list's rows as lists of cell texts."""
    records = tool.inspect("list", "--title", TITLE, "--id", str(list_id))
    return [r["cells"] for r in records if "row" in r]


def list_columns(tool, list_id=1000):
    return tool.inspect("list", "--title", TITLE, "--id", str(list_id))[0]["columns"]


def message_boxes(tool):
    """The tool's message boxes now on screen, as {hwnd, texts, buttons}: dialogs whose buttons
    are the standard ones (OK 1, Cancel 2, ...), which tells them from the tool's own windows."""
    return [w for w in tool.inspect("windows")
            if w["class"] == "#32770" and w.get("texts") and w.get("buttons")
            and all(b["id"] < 100 for b in w["buttons"])]


def answer_message_box(tool, button_id=1, timeout=10.0):
    """Waits for one message box, presses its button and returns its text."""
    boxes = wait_until(lambda: message_boxes(tool), timeout=timeout)
    assert boxes, "a message box shows"
    box = boxes[0]
    tool.inspect("press", "--hwnd", str(box["hwnd"]), "--id", str(button_id))
    wait_until(lambda: not message_boxes(tool), timeout=5)
    return "".join(box["texts"])


def header_point(tool, column):
    """Screen point of a header item of the device list."""
    header = [c for c in tool.inspect("controls", "--title", TITLE)
              if c["class"] == "SysHeader32"][0]
    widths = [c["width"] for c in list_columns(tool)]
    return (header["rect"][0] + sum(widths[:column]) + widths[column] // 2,
            (header["rect"][1] + header["rect"][3]) // 2)


# Rows of the device list in its 15-pixel Arial.
ROW_HEIGHT = 16


def row_point(tool, row):
    """Screen point inside a row of the device list."""
    header = [c for c in tool.inspect("controls", "--title", TITLE)
              if c["class"] == "SysHeader32"][0]
    return header["rect"][0] + 60, header["rect"][3] + 8 + row * ROW_HEIGHT
