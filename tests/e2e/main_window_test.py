"""The main window from outside: it opens with its form, the tabs switch, the title band drags
it, and it closes by the close button, by WM_CLOSE and, only with -Soft, by WM_REMOTE_CLOSE."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import WM_CLOSE, WM_REMOTE_CLOSE, Tool, run_tests, xdotool  # noqa: E402

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]

FORM = [1018, 1010, 1014, 1005, 1015, 1006, 1016, 1007, 1019, 1022, 1020, 1023, 1021, 1025, 1009,
        1024, 1026, 1027, 1028, 1004]


def started(*args):
    tool = Tool(EXE, INSPECTOR, ARTIFACTS, args)
    tool.wait_for_window()
    time.sleep(0.5)
    return tool


def test_opens_with_form_and_switches_tabs():
    tool = started()
    try:
        controls = tool.controls()
        assert controls[1001]["text"] == "Search"
        assert controls[1004]["text"] == "Modify IP"
        assert controls[1014]["text"] == "IP Adress"
        assert controls[1006]["text"] == "255.255.255.0"
        assert controls[1028]["text"] == "admin"
        assert all(controls[i]["visible"] for i in FORM)
        tool.screenshot("main-window.png")

        tool.click(1003)
        controls = tool.controls()
        assert not any(controls[i]["visible"] for i in FORM)
        assert all(controls[i]["visible"] for i in (1000, 1001, 1038, 1011, 1017))
        panel = [c for c in tool.inspect("controls", "--title", "Tessarin")
                 if c["path"] == [] and c["class"] == "#32770"]
        assert panel and panel[0]["visible"], "the upgrade panel shows"
        tool.screenshot("upgrade-tab.png")

        tool.click(1002)
        controls = tool.controls()
        assert all(controls[i]["visible"] for i in FORM)

        tool.click(1011)
        assert tool.wait_exit() is not None, "the close button ends the program"
    finally:
        tool.stop()


def drag(x, y, dx, dy):
    xdotool("mousemove", str(x), str(y), "mousedown", "1")
    for step in range(1, 6):
        xdotool("mousemove", str(x + dx * step // 5), str(y + dy * step // 5))
        time.sleep(0.1)
    time.sleep(0.3)
    xdotool("mouseup", "1")
    time.sleep(0.3)


def test_title_band_drags_the_window():
    tool = started()
    try:
        # Below the band (y 78 and more) a press on the window's surface moves nothing.
        before = tool.rect()
        drag(before["x"] + 300, before["y"] + 90, 100, 50)
        assert tool.rect() == before

        drag(before["x"] + 300, before["y"] + 40, 100, 50)
        after = tool.rect()
        moved = (after["x"] - before["x"], after["y"] - before["y"])
        # The pointer's last steps may be folded into fewer moves; the window follows it.
        assert 60 <= moved[0] <= 100 and 30 <= moved[1] <= 50, (before, after)
        tool.post(WM_CLOSE)
        assert tool.wait_exit() is not None
    finally:
        tool.stop()


def test_remote_close_only_with_soft_switch():
    for args, closes in ((("-Soft",), True), ((), False), (("-soft",), False),
                         (("-Soft", "-x"), False)):
        tool = started(*args)
        try:
            tool.post(WM_REMOTE_CLOSE)
            exited = tool.wait_exit(timeout=3) is not None
            assert exited == closes, (args, exited)
            if not exited:
                tool.post(WM_CLOSE)
                assert tool.wait_exit() is not None, "WM_CLOSE ends the program"
        finally:
            tool.stop()


if __name__ == "__main__":
    sys.exit(run_tests([test_opens_with_form_and_switches_tabs, test_title_band_drags_the_window,
                        test_remote_close_only_with_soft_switch]))
