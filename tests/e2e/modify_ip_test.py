"""Modify IP through the real window on the test LAN: a change the device takes and a new search
shows, and each wrong input with its message and nothing sent."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from tessarin_e2e import (WM_CLOSE, Tool, answer_message_box, devsim_events,  # noqa: E402
                          header_point, list_rows, message_boxes, row_point, run_tests,
                          wait_until, xdotool)

EXE, INSPECTOR, ARTIFACTS = sys.argv[1:4]
CAMERA_MAC = "02:54:53:01:00:0A"
DVR_MAC = "02:54:53:03:00:1E"
PC_ADDRESSES = set(os.environ.get("TESSARIN_LAN_PC_ADDRESSES", "10.77.0.1 10.78.0.1").split())


class Session:
    """The tool with the device list searched and sorted by IP address (camera first). The
    sort stays for later searches."""

    def __init__(self):
        self.tool = Tool(EXE, INSPECTOR, ARTIFACTS)
        self.tool.wait_for_window()
        time.sleep(0.5)
        self.search()
        self.sort_by_ip()

    def search(self, count=2):
        self.tool.click(1001)
        wait_until(lambda: len(list_rows(self.tool)) >= count, timeout=15)
        time.sleep(0.5)

    def select(self, mac):
        """Clicks the device's row: rows of a new search come in arrival order."""
        row = [r[8] for r in list_rows(self.tool)].index(mac)
        x, y = row_point(self.tool, row)
        xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.4)

    def sort_by_ip(self):
        x, y = header_point(self.tool, 4)
        xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.4)

    def set(self, control_id, text):
        self.tool.inspect("settext", "--title", "Tessarin", "--id", str(control_id), "--text", text)

    def modify(self):
        self.tool.click(1004)
        time.sleep(1.0)

    def close(self):
        self.tool.post(WM_CLOSE)
        self.tool.wait_exit()
        self.tool.stop()


def modifies():
    return devsim_events("modify")


def test_change_is_taken_and_a_new_search_shows_it():
    s = Session()
    try:
        s.select(CAMERA_MAC)
        assert s.tool.controls()[1005]["text"] == "10.77.1.10"
        s.set(1005, "10.77.1.77")
        s.set(1007, "0.0.0.0")          # an empty gateway is completed, without a question
        s.set(1022, "8080")
        s.set(1026, "Lobby-1")
        before = len(modifies())
        s.modify()
        assert not message_boxes(s.tool), message_boxes(s.tool)
        assert s.tool.controls()[1007]["text"] == "10.77.1.1"

        sent = wait_until(lambda: modifies()[before:], timeout=5)
        # One request from every local address, the same apart from the sender.
        wait_until(lambda: len(modifies()) - before >= len(PC_ADDRESSES), timeout=5)
        sent = [m for m in modifies()[before:] if m["mac"] == CAMERA_MAC]
        assert {m["from"].split(":")[0] for m in sent} == PC_ADDRESSES, sent
        for request in sent:
            assert request["length"] == 180
            assert request["current_address"] == "10.77.1.10"
            assert (request["ip"], request["mask"], request["gateway"], request["dns"]) == \
                ("10.77.1.77", "255.255.0.0", "10.77.1.1", "10.77.0.253")
            assert (request["http_port"], request["rtsp_port"], request["mobile_port"]) == \
                (8080, 554, 8000)
            assert request["dhcp"] == 0
        hexes = {m["hex"] for m in sent}
        assert len(hexes) == 1, "the copies are byte for byte the same"
        datagram = bytes.fromhex(hexes.pop())
        assert datagram[100:104] == bytes([0x90, 0x1F, 0, 0])  # 8080, little-endian

        credential = [h for h in devsim_events("http") if h["mac"] == CAMERA_MAC][-1]
        assert credential["target"] == "/vb.htm?paratest=authority"
        assert credential["authorized"] and credential["status"] == 200

        time.sleep(1.0)
        s.search()
        camera = [r for r in list_rows(s.tool) if r[8] == CAMERA_MAC][0]
        assert (camera[4], camera[6], camera[9]) == ("10.77.1.77", "10.77.1.1", "8080"), camera

        # The device is reachable at its new address: the same check passes there.
        s.select(CAMERA_MAC)
        assert s.tool.controls()[1005]["text"] == "10.77.1.77", s.tool.controls()[1005]
        s.set(1026, "Lobby-1")
        s.modify()
        assert not message_boxes(s.tool), message_boxes(s.tool)
        s.tool.screenshot("modify-ip-done.png")
    finally:
        s.close()


def test_wrong_inputs_each_get_their_message_and_nothing_is_sent():
    s = Session()
    try:
        # Before any row was clicked: no request at all.
        http_before = len(devsim_events("http"))
        s.tool.click(1004)
        assert answer_message_box(s.tool) == "Invalid IP address"
        assert len(devsim_events("http")) == http_before

        cases = [
            # (device, {control: text}, message, answer button)
            (CAMERA_MAC, {1026: "wrong", 1022: "1024"}, "Password error!", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1022: "1024"},
             "The effective value of HTTP port is 80 or from 1025 to 65534", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1022: ""},
             "The effective value of HTTP port is 80 or from 1025 to 65534", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1023: "1000"},
             "the effective value of RTSP port is 554 or from 1025 to 65534", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1022: "8080", 1023: "8080"}, "The port is repeated!", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1005: "10.77.1.255"}, "Invalid IP address", 1),
            (CAMERA_MAC, {1026: "Lobby-1", 1005: "10.77.2.10", 1007: "10.77.3.1"},
             "IP address and gate way are not in the same network segment! "
             "are you sure modify?", 2),
        ]
        for mac, fields, message, button in cases:
            s.select(mac)
            for control, text in fields.items():
                s.set(control, text)
            before = len(modifies())
            s.tool.click(1004)
            assert answer_message_box(s.tool, button) == message, (fields, message)
            time.sleep(0.5)
            assert len(modifies()) == before, ("nothing sent", fields)

        # A DVR's RTSP port is not range-tested: 1000 passes and the request goes out.
        s.select(DVR_MAC)
        assert s.tool.controls()[1023]["text"] == "1000"
        s.set(1026, "Gate-2")
        before = len(modifies())
        s.modify()
        assert not message_boxes(s.tool), message_boxes(s.tool)
        assert wait_until(lambda: len(modifies()) > before, timeout=5)
        dvr = [h for h in devsim_events("http") if h["mac"] == DVR_MAC][-1]
        assert dvr["target"] == "/vb.htm?getlongsesn="
    finally:
        s.close()


def test_dhcp_sends_no_addresses():
    s = Session()
    try:
        s.select(CAMERA_MAC)
        camera_address = s.tool.controls()[1005]["text"]
        s.tool.click(1009)
        controls = s.tool.controls()
        assert controls[1009]["checked"] == 1
        assert not any(controls[i]["enabled"] for i in (1005, 1006, 1007, 1010))
        s.set(1026, "Lobby-1")
        before = len(modifies())
        s.modify()
        assert not message_boxes(s.tool), message_boxes(s.tool)
        sent = wait_until(lambda: modifies()[before:], timeout=5)
        request = sent[0]
        assert request["dhcp"] == 1, request
        datagram = bytes.fromhex(request["hex"])
        assert datagram[29:93] == bytes(64), "no address texts"
        assert request["current_address"] == camera_address
    finally:
        s.close()


if __name__ == "__main__":
    sys.exit(run_tests([test_change_is_taken_and_a_new_search_shows_it,
                        test_wrong_inputs_each_get_their_message_and_nothing_is_sent,
                        test_dhcp_sends_no_addresses]))
