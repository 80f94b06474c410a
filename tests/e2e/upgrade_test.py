"""Firmware upgrades through the real window on the test LAN, one per mechanism, as an installer
does it: select the device, open the Upgrade tab, type the package path and the credentials,
press Upgrade and watch the bar."""

import hashlib
import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import (answer_message_box, devsim_events, message_boxes,  # noqa: E402
                          run_tests, wait_until)
from upgrade_panel import package, upgrade_session  # noqa: E402

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]
CB_GETCOUNT = 0x0146
BUSY = "An upgrade is already running. Wait until it has finished."


def open_panel():
    return upgrade_session(EXE, INSPECTOR, ARTIFACTS, devices=4)


def test_each_mechanism_upgrades_its_device():
    with open_panel() as s:
        # Type 3: upload, then the watch until the device stops answering its pings.
        path, windows_path = package("camera.package", 300_000)
        s.start("02:54:53:01:00:0A", windows_path, "admin", "up-1")
        seen = s.watch_bar(lambda p: p == 100, timeout=60)
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
        s.start("02:54:53:02:00:14", windows_path, "admin", "up-2")
        seen = s.watch_bar(lambda p: p == 100, timeout=60)
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
        s.start("02:54:53:03:00:1E", windows_path, "admin", "up-3")
        time.sleep(1.0)
        seen = s.watch_bar(lambda p: p == 99, timeout=60)
        assert len(seen) > 1, seen
        packages = [e for e in devsim_events("library_package")
                    if e.get("mac") == "02:54:53:03:00:1E"]
        assert packages, devsim_events()[-5:]
        assert not message_boxes(s.tool)
        s.tool.screenshot("upgrade-library-done.png")

        # A package whose name does not fit the library device is refused before any traffic.
        # The panel stays busy until the library's end record follows the device's result.
        assert wait_until(lambda: [e for e in devsim_events("library_result")
                                   if e.get("mac") == "02:54:53:03:00:1E"], timeout=30)
        _, windows_path = package("HY_4.1_build7.package", 10)
        s.fill(windows_path, "admin", "up-3")
        for _ in range(10):
            s.upgrade()
            text = answer_message_box(s.tool)
            if text != BUSY:
                break
            time.sleep(1)
        assert text == "Upgrade package error!", text
        s.close()


def test_refusals_and_device_codes():
    with open_panel() as s:
        # No row selected yet.
        s.upgrade()
        assert answer_message_box(s.tool) == "Please chose the device!"

        # The credentials are checked before the package path is looked at.
        s.select("02:54:53:01:00:0B")
        s.fill("", "admin", "wrong")
        s.upgrade()
        assert answer_message_box(s.tool) == "Password error!"

        s.fill("", "admin", "up-4")
        s.upgrade()
        assert answer_message_box(s.tool) == "Please select file!"

        _, windows_path = package("refused.package", 50_000)
        s.fill(windows_path, "admin", "up-4")
        s.upgrade()
        assert answer_message_box(s.tool, timeout=30) == "Upload file failed!"
        answers = [e for e in devsim_events("upgrade_answer") if e["mac"] == "02:54:53:01:00:0B"]
        assert answers and answers[-1]["code"] == 7
        s.close()


def test_closing_during_an_upload_ends_the_program():
    with open_panel() as s:
        _, windows_path = package("big.package", 64 * 1024 * 1024)
        s.start("02:54:53:01:00:0A", windows_path, "admin", "up-1")
        wait_until(lambda: 15 <= s.bar() < 50, timeout=30)
        s.tool.screenshot("upgrade-mid-transfer.png")
        s.close_quickly()


def test_browse_fills_the_path_and_cancel_keeps_it():
    with open_panel() as s:
        _, windows_path = package("browsed.package", 10)
        s.click(1033)
        dialog = s.tool.inspect("wait", "--title", "Open", "--timeout", "15000")[0]["hwnd"]
        time.sleep(1)
        s.tool.screenshot("upgrade-browse.png")
        controls = {c["id"]: c for c in s.tool.inspect("controls", "--hwnd", str(dialog))}
        # The filter list, all files first.
        assert controls[1136]["text"] == "所有文件 (*.*)", controls[1136]
        count = s.tool.inspect("send", "--hwnd", str(dialog), "--id", "1136",
                               "--msg", str(CB_GETCOUNT))[0]["result"]
        assert count == 5, count
        s.tool.inspect("settext", "--hwnd", str(dialog), "--id", "1148", "--text", windows_path)
        s.tool.inspect("press", "--hwnd", str(dialog), "--id", "1")
        s.tool.inspect("gone", "--hwnd", str(dialog), "--timeout", "10000")
        assert s.path() == windows_path, s.path()

        # A cancelled dialog leaves the path as it was.
        s.click(1033)
        dialog = s.tool.inspect("wait", "--title", "Open", "--timeout", "15000")[0]["hwnd"]
        s.tool.inspect("press", "--hwnd", str(dialog), "--id", "2")
        s.tool.inspect("gone", "--hwnd", str(dialog), "--timeout", "10000")
        assert s.path() == windows_path, s.path()
        s.close()


if __name__ == "__main__":
    sys.exit(run_tests([test_each_mechanism_upgrades_its_device, test_refusals_and_device_codes,
                        test_closing_during_an_upload_ends_the_program,
                        test_browse_fills_the_path_and_cancel_keeps_it]))
