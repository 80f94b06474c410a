"""Discovery on the test LAN, as an installer does it: search by Enter and by the button, see
every device once, click a row to fill the form, double-click it to open its web page."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import (WM_CLOSE, Tool, devsim_events, list_columns, list_rows,  # noqa: E402
                          run_tests, wait_until, xdotool)

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]

# MAC -> the row the tool must show for it (columns 1 to 14; column 0 is the running number).
EXPECTED = {
    "02:54:53:01:00:0A": ["IPCAMERA", "Lobby camera", "4.1.46.5", "10.77.1.10", "255.255.0.0",
                          "10.77.0.254", "10.77.0.253", "02:54:53:01:00:0A", "80", "554", "8000",
                          "1", "Close", "3"],
    "02:54:53:02:00:14": ["NVR", "Parking NVR", "4.1.9.5", "10.77.2.20", "255.255.0.0",
                          "10.77.0.254", "10.77.0.253", "02:54:53:02:00:14", "8080", "1554",
                          "9000", "16", "Open", "250"],
    "02:54:53:03:00:1E": ["xDVRx", "Gate recorder", "4.1.256.0", "10.77.3.30", "255.255.0.0",
                          "10.77.0.254", "10.77.0.253", "02:54:53:03:00:1E", "80", "554", "8000",
                          "8", "Close", "-1"],
    "02:54:53:01:00:0C": ["IPCAMERA", "Yard camera", "4.2.0.12", "10.77.1.12", "255.255.0.0",
                          "10.77.0.254", "10.77.0.253", "02:54:53:01:00:0C", "80", "554", "8000",
                          "1", "Close", "300"],
}
PC_ADDRESSES = set(os.environ.get("TESSARIN_LAN_PC_ADDRESSES", "10.77.0.1 10.78.0.1").split())


def started():
    tool = Tool(EXE, INSPECTOR, ARTIFACTS)
    tool.wait_for_window()
    time.sleep(0.5)
    return tool


def settled_rows(tool, count):
    """The rows once `count` are listed and a further second adds none."""
    wait_until(lambda: len(list_rows(tool)) >= count, timeout=15)
    time.sleep(1.0)
    return list_rows(tool)


def check_rows(rows):
    by_mac = {row[8]: row for row in rows}
    assert len(rows) == len(EXPECTED), [row[1:4] for row in rows]
    assert set(by_mac) == set(EXPECTED), rows
    for mac, cells in EXPECTED.items():
        assert by_mac[mac][1:] == cells, (by_mac[mac], cells)
    assert [row[0] for row in rows] == [str(i) for i in range(1, len(rows) + 1)]


def first_row_point(tool):
    header = [c for c in tool.inspect("controls", "--title", "Tessarin")
              if c["class"] == "SysHeader32"][0]
    left, _, _, bottom = header["rect"]
    return left + 60, bottom + 8


def test_enter_searches_and_lists_every_device_once():
    tool = started()
    try:
        # Focus the form, then Enter: the window's default command is the search.
        field = tool.rect(1028)
        xdotool("mousemove", str(field["cx"]), str(field["cy"]), "click", "1")
        xdotool("key", "Return")
        check_rows(settled_rows(tool, len(EXPECTED)))

        searches = devsim_events("search")
        assert searches, "the devices heard a search"
        senders = set()
        for search in searches:
            assert search["length"] == 180, search
            datagram = bytes.fromhex(search["hex"])
            assert datagram[:13] == b"searching..\0\x02", datagram[:13]
            text = datagram[13:29].split(b"\0")[0].decode()
            assert datagram[13 + len(text):] == bytes(180 - 13 - len(text)), search
            senders.add(text)
        assert senders == PC_ADDRESSES, senders
        tool.screenshot("discovery-enter.png")
    finally:
        tool.post(WM_CLOSE)
        tool.wait_exit()
        tool.stop()


def test_search_button_refills_the_list_and_a_row_fills_the_form():
    tool = started()
    try:
        tool.click(1001)
        settled_rows(tool, len(EXPECTED))
        tool.click(1001)  # again: the list is emptied first, so nobody appears twice
        check_rows(settled_rows(tool, len(EXPECTED)))

        # Sort by IP address so the first row is a known device, then click it.
        header_items = list_columns(tool)
        assert header_items[4]["title"] == "IP address"
        header = [c for c in tool.inspect("controls", "--title", "Tessarin")
                  if c["class"] == "SysHeader32"][0]
        widths = [column["width"] for column in header_items]
        x = header["rect"][0] + sum(widths[:4]) + widths[4] // 2
        header_y = (header["rect"][1] + header["rect"][3]) // 2
        xdotool("mousemove", str(x), str(header_y), "click", "1")
        time.sleep(0.5)
        rows = list_rows(tool)
        assert rows[0][4] == "10.77.1.10", rows[0]
        assert list_columns(tool)[4]["sort"] == "up"

        tool.inspect("settext", "--title", "Tessarin", "--id", "1026", "--text", "typed")
        x, y = first_row_point(tool)
        xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.5)
        controls = tool.controls()
        assert controls[1005]["text"] == "10.77.1.10"
        assert controls[1006]["text"] == "255.255.0.0"
        assert controls[1007]["text"] == "10.77.0.254"
        assert controls[1010]["text"] == "10.77.0.253"
        assert controls[1022]["text"] == "80"
        assert controls[1023]["text"] == "554"
        assert controls[1025]["text"] == "8000"
        assert controls[1026]["text"] == "", "the password is emptied"
        assert controls[1028]["text"] == "admin"
        assert controls[1009]["checked"] == 0
        assert all(controls[i]["enabled"] for i in (1005, 1006, 1007, 1010))
        tool.screenshot("discovery-row-click.png")

        # Sorted by firmware, 4.1.256.0 keys as 4.1.0.0 and comes first.
        x = header["rect"][0] + sum(widths[:3]) + widths[3] // 2
        xdotool("mousemove", str(x), str(header_y), "click", "1")
        time.sleep(0.5)
        firmware = [row[3] for row in list_rows(tool)]
        assert firmware == ["4.1.256.0", "4.1.9.5", "4.1.46.5", "4.2.0.12"], firmware
        tool.screenshot("discovery-sorted-by-firmware.png")
    finally:
        tool.post(WM_CLOSE)
        tool.wait_exit()
        tool.stop()


def test_double_click_opens_the_devices_web_page():
    tool = started()
    try:
        tool.click(1001)
        settled_rows(tool, len(EXPECTED))
        first = list_rows(tool)[0]
        x, y = first_row_point(tool)
        xdotool("mousemove", str(x), str(y), "click", "--repeat", "2", "--delay", "80", "1")
        log = os.environ["TESSARIN_BROWSER_LOG"]

        def opened():
            return os.path.exists(log) and open(log, encoding="utf-8").read().strip()

        url = wait_until(opened, timeout=10)
        expected = f"http://{first[4]}:{first[9]}"
        # Wine's hand-over to the browser adds the empty path's slash and drops ":80".
        assert url in (expected, expected + "/", f"http://{first[4]}/"), (url, expected)
        assert tool.controls()[1005]["text"] == first[4], "the first press selected the device"
    finally:
        tool.post(WM_CLOSE)
        tool.wait_exit()
        tool.stop()


if __name__ == "__main__":
    sys.exit(run_tests([test_enter_searches_and_lists_every_device_once,
                        test_search_button_refills_the_list_and_a_row_fills_the_form,
                        test_double_click_opens_the_devices_web_page]))
