"""Upgrades that go wrong on the device's side, through the real window on the test LAN: each
ends with the failure message or keeps watching, the window answers all along, and closing it
ends the program at once."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import (answer_message_box, devsim_events, message_boxes,  # noqa: E402
                          run_tests, wait_until)
from upgrade_panel import package, upgrade_session  # noqa: E402

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]
DROPPING, HALTING, SILENT, LOST = ("02:54:53:01:00:0A", "02:54:53:01:00:0B",
                                   "02:54:53:01:00:0C", "02:54:53:01:00:0D")
SERVICELESS, SLOW = "02:54:53:03:00:1E", "02:54:53:03:00:1F"


def open_panel():
    return upgrade_session(EXE, INSPECTOR, ARTIFACTS, devices=6)


def events_of(mac, event):
    return [e for e in devsim_events(event) if e.get("mac") == mac]


def test_device_failures_end_with_the_message():
    with open_panel() as s:
        # The device drops the connection after 64 KiB of a 4 MiB package.
        _, windows_path = package("dropped.package", 4 * 1024 * 1024)
        s.start(DROPPING, windows_path, "admin", "fault")
        assert answer_message_box(s.tool, timeout=40) == "Upload file failed!"
        dropped = events_of(DROPPING, "upgrade_incomplete")
        assert dropped and dropped[-1]["phase"] == "package", dropped
        # The bar keeps what it showed last: somewhere in the transfer, never the watch.
        assert s.bar() < 50
        assert not events_of(DROPPING, "reboot")

        # Half of the final answer: "@7" has no closing "@", so no code can be read from it.
        _, windows_path = package("halted.package", 50_000)
        s.start(HALTING, windows_path, "admin", "fault")
        assert answer_message_box(s.tool, timeout=30) == "Upload file failed!"
        assert events_of(HALTING, "upgrade_answer")[-1]["answer"] == "@7"

        # No final answer at all: the tool waits out its 20 s receive time-out, answering the
        # whole time, then reports the failure.
        _, windows_path = package("unanswered.package", 50_000)
        s.start(SILENT, windows_path, "admin", "fault")
        assert wait_until(lambda: events_of(SILENT, "upgrade_answer"), timeout=20)
        started = time.monotonic()
        while time.monotonic() - started < 12:
            assert s.bar() == 50, "the whole package went, nothing more"
            assert not message_boxes(s.tool)
            time.sleep(1)
        assert answer_message_box(s.tool, timeout=20) == "Upload file failed!"
        assert time.monotonic() - started > 15, "not before the receive time-out"
        s.close()


def test_a_library_device_without_its_service_fails_each_time():
    with open_panel() as s:
        _, windows_path = package("HX_4.1_build1.package", 20_000)
        # The connection fails; the panel says so and takes the next click as a new attempt
        # rather than as one more while it is still busy.
        for attempt in range(2):
            s.start(SERVICELESS, windows_path, "admin", "fault")
            text = answer_message_box(s.tool, timeout=30)
            assert text == "密码错误", f"attempt {attempt}: {text}"
        assert not events_of(SERVICELESS, "library_package")
        s.close()


def test_a_device_that_never_comes_back_is_watched_until_closed():
    with open_panel() as s:
        _, windows_path = package("lost.package", 100_000)
        s.start(LOST, windows_path, "admin", "fault")
        assert wait_until(lambda: events_of(LOST, "reboot"), timeout=20)
        # After the 5 s grace the watch adds 3 a second while the device stays silent, up to 98,
        # and waits there for a reply that never comes.
        seen = s.watch_bar(lambda p: p == 98, timeout=40)
        assert seen[-1] == 98, seen
        watch = [p for p in seen if p > 50]
        assert all(p in range(53, 99, 3) or p == 98 for p in watch), seen
        assert watch == sorted(watch), seen
        time.sleep(3)
        assert s.bar() == 98, "no end without a reply"
        assert not message_boxes(s.tool)
        assert events_of(LOST, "reboot")[-1]["phase"] == "down"
        s.tool.screenshot("upgrade-watching-lost-device.png")

        s.close_quickly()


def test_closing_while_the_device_keeps_its_answer():
    with open_panel() as s:
        _, windows_path = package("kept.package", 50_000)
        s.start(SILENT, windows_path, "admin", "fault")
        assert wait_until(lambda: s.bar() == 50, timeout=20)
        time.sleep(1)
        # The worker waits for the final answer; the closing window cuts the wait short.
        s.close_quickly()


def test_closing_while_a_library_device_installs():
    with open_panel() as s:
        _, windows_path = package("HX_4.1_build2.package", 200_000)
        s.start(SLOW, windows_path, "admin", "fault")
        assert wait_until(lambda: events_of(SLOW, "library_progress"), timeout=30)
        assert wait_until(lambda: s.bar() > 0, timeout=10), "the bar follows the device"
        assert not message_boxes(s.tool)
        s.close_quickly()


if __name__ == "__main__":
    sys.exit(run_tests([test_device_failures_end_with_the_message,
                        test_a_library_device_without_its_service_fails_each_time,
                        test_a_device_that_never_comes_back_is_watched_until_closed,
                        test_closing_while_the_device_keeps_its_answer,
                        test_closing_while_a_library_device_installs]))
