"""Firmware upgrades through the real window on the test LAN, one per mechanism, as an installer
does it: select the device, open the Upgrade tab, type the package path and the credentials,
press Upgrade and watch the bar."""

import hashlib
import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import (WM_CLOSE, Tool, answer_message_box, devsim_events,  # noqa: E402
                          list_rows, message_boxes, row_point, run_tests, wait_until, xdotool)

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]
PBM_GETPOS = 0x0408


def package(name, size):
    """A package file in the run's scratch folder, and its path as the tool sees it."""
    folder = os.environ.get("TMPDIR", "/tmp")
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(bytes((i * 7 + 3) % 251 for i in range(size)))
    return path, "Z:" + path.replace("/", "\\")


class Session:
    def __init__(self):
        self.tool = Tool(EXE, INSPECTOR, ARTIFACTS)
        self.tool.wait_for_window()
        time.sleep(0.5)
        self.tool.click(1001)
        wait_until(lambda: len(list_rows(self.tool)) >= 4, timeout=15)
        time.sleep(0.5)
        self.tool.click(1003)
        self.panel = [c for c in self.tool.inspect("controls", "--title", "Tessarin")
                      if c["path"] == [] and c["class"] == "#32770"][0]["hwnd"]

    def select(self, mac):
        row = [r[8] for r in list_rows(self.tool)].index(mac)
        x, y = row_point(self.tool, row)
        xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.4)

    def fill(self, path, user, password):
        for control, text in ((1028, path), (1030, user), (1031, password)):
            self.tool.inspect("settext", "--hwnd", str(self.panel), "--id", str(control),
                              "--text", text)

    def upgrade(self):
        r = self.tool.inspect("rect", "--hwnd", str(self.panel), "--id", "1036")[0]
        xdotool("mousemove", str(r["cx"]), str(r["cy"]), "click", "1")

    def bar(self):
        return self.tool.inspect("send", "--hwnd", str(self.panel), "--id", "1029",
                                 "--msg", str(PBM_GETPOS))[0]["result"]

    def close(self):
        self.tool.post(WM_CLOSE)
        assert self.tool.wait_exit(timeout=10) is not None, "closing ends the program"
        self.tool.stop()


def watch_bar(session, until, timeout):
    """The bar's positions, sampled until `until(position)` holds."""
    seen = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        position = session.bar()
        if not seen or seen[-1] != position:
            seen.append(position)
        if until(position):
            break
        time.sleep(0.2)
    return seen


def test_each_mechanism_upgrades_its_device():
    s = Session()
    try:
        # Type 3: upload, then the watch until the device stops answering its pings.
        path, windows_path = package("camera.package", 300_000)
        s.select("02:54:53:01:00:0A")
        s.fill(windows_path, "admin", "up-1")
        s.upgrade()
        seen = watch_bar(s, lambda p: p == 100, timeout=60)
        assert seen[-1] == 100, seen
        assert all(p <= 50 or p in range(52, 99, 2) or p == 100 for p in seen), seen
        data = [e for e in devsim_events("upgrade_data") if e["mac"] == "02:54:53:01:00:0A"]
        assert data and data[-1]["received"] == 300_000
        assert data[-1]["sha256"] == hashlib.sha256(open(path, "rb").read()).hexdigest()
        command = [e for e in devsim_events("upgrade_command")
                   if e["mac"] == "02:54:53:01:00:0A"][-1]
        assert command["size"] == 300_000 and not command["size_field"]
        assert not message_boxes(s.tool)
        time.sleep(1.5)

        # Type 250: upload with the size field, then polling until 100.
        path, windows_path = package("nvr.package", 100_000)
        s.select("02:54:53:02:00:14")
        s.fill(windows_path, "admin", "up-2")
        s.upgrade()
        seen = watch_bar(s, lambda p: p == 100, timeout=60)
        assert seen[-1] == 100, seen
        assert 87 in seen or 50 in seen, seen
        sizes = [e for e in devsim_events("upgrade_size") if e["mac"] == "02:54:53:02:00:14"]
        assert sizes and sizes[-1]["size"] == 100_000 and sizes[-1]["matches_command"]
        progress = [e["value"] for e in devsim_events("progress")
                    if e["mac"] == "02:54:53:02:00:14"]
        assert progress[-1] == 100, progress
        assert not message_boxes(s.tool)
        time.sleep(1.5)

        # Type 150: the client library; the package title must fit the firmware.
        path, windows_path = package("HX_4.1_build7.package", 200_000)
        s.select("02:54:53:03:00:1E")
        s.fill(windows_path, "admin", "up-3")
        s.upgrade()
        time.sleep(1.0)
        seen = watch_bar(s, lambda p: p == 99, timeout=60)
        assert len(seen) > 1, seen
        packages = [e for e in devsim_events("library_package")
                    if e.get("mac") == "02:54:53:03:00:1E"]
        assert packages, devsim_events()[-5:]
        assert not message_boxes(s.tool)
        s.tool.screenshot("upgrade-library-done.png")

        # A package whose name does not fit the library device is refused before any traffic.
        _, windows_path = package("HY_4.1_build7.package", 10)
        s.fill(windows_path, "admin", "up-3")
        s.upgrade()
        assert answer_message_box(s.tool) == "Upgrade package error!"
    finally:
        s.close()


def test_refusals_and_device_codes():
    s = Session()
    try:
        # No row selected yet.
        s.upgrade()
        assert answer_message_box(s.tool) == "Please chose the device!"

        s.select("02:54:53:01:00:0B")
        _, windows_path = package("refused.package", 50_000)
        s.fill(windows_path, "admin", "wrong")
        s.upgrade()
        assert answer_message_box(s.tool) == "Password error!"

        s.fill("", "admin", "up-4")
        s.upgrade()
        assert answer_message_box(s.tool) == "Please select file!"

        s.fill(windows_path, "admin", "up-4")
        s.upgrade()
        assert answer_message_box(s.tool, timeout=30) == "Upload file failed!"
        answers = [e for e in devsim_events("upgrade_answer") if e["mac"] == "02:54:53:01:00:0B"]
        assert answers and answers[-1]["code"] == 7
    finally:
        s.close()


def test_closing_during_an_upload_ends_the_program():
    s = Session()
    try:
        _, windows_path = package("big.package", 64 * 1024 * 1024)
        s.select("02:54:53:01:00:0A")
        s.fill(windows_path, "admin", "up-1")
        s.upgrade()
        wait_until(lambda: 0 < s.bar() < 50, timeout=20)
        s.tool.screenshot("upgrade-mid-transfer.png")
        started = time.monotonic()
        s.tool.post(WM_CLOSE)
        assert s.tool.wait_exit(timeout=10) is not None
        assert time.monotonic() - started < 5, "the window does not wait for the device"
    finally:
        s.tool.stop()


if __name__ == "__main__":
    sys.exit(run_tests([test_each_mechanism_upgrades_its_device, test_refusals_and_device_codes,
                        test_closing_during_an_upload_ends_the_program]))
