#!/usr/bin/env python3
"""Package upload throughput: a 64 MiB package sent by the real Tessarin.exe to a simulated
device on the test LAN, side by side with a raw TCP transfer of the same bytes over the same
link in the same run.

    bench/upgrade_throughput.py [--mib 64] [--out FILE]

The tool's figure runs from the Upgrade click to devsim's log line saying the package is
complete; the raw figure from connect to the receiver's last byte. A benchmark, not a test: it
exits 0 whatever it measures. The figures go to stdout and build/bench/upgrade_throughput.json.
"""

import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

DEVICE_IP = "10.77.1.10"
RAW_PORT = 9100
LAN = f"""# Upload bench: one camera whose watch ends at once (type 300, no reboot).
[device]
model = IPCAMERA
name = Bench camera
firmware = 4.1.46.5
ip = {DEVICE_IP}
mask = 255.255.0.0
gateway = 10.77.1.1
mac = 02:54:53:20:00:01
http_port = 80
type = 300
user = admin
password = bench
reboot_ms = 0
"""

RECEIVER = """
import socket, sys
server = socket.socket(); server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("0.0.0.0", int(sys.argv[1]))); server.listen(1)
print("ready", flush=True)
connection, _ = server.accept()
total = 0
while True:
    chunk = connection.recv(1 << 16)
    if not chunk:
        break
    total += len(chunk)
connection.sendall(str(total).encode())
connection.close()
"""


def raw_transfer(data):
    """Seconds for the bytes over a plain TCP connection to the device's namespace."""
    namespace = os.environ["TESSARIN_LAN_NS_PREFIX"] + "d1"
    receiver = subprocess.Popen(["ip", "netns", "exec", namespace, sys.executable, "-c", RECEIVER,
                                 str(RAW_PORT)], stdout=subprocess.PIPE, text=True)
    receiver.stdout.readline()
    started = time.monotonic()
    with socket.create_connection((DEVICE_IP, RAW_PORT)) as connection:
        connection.sendall(data)
        connection.shutdown(socket.SHUT_WR)
        received = int(connection.recv(64))
    seconds = time.monotonic() - started
    receiver.wait(timeout=10)
    assert received == len(data), (received, len(data))
    return seconds


def tool_transfer(exe, inspector, path):
    """Seconds from the Upgrade click to the device's complete package."""
    from tessarin_e2e import TITLE, Tool, devsim_events, list_rows, row_point, wait_until, xdotool
    tool = Tool(exe, inspector, tempfile.mkdtemp())
    try:
        tool.wait_for_window()
        tool.click(1001)
        wait_until(lambda: list_rows(tool), timeout=15)
        x, y = row_point(tool, 0)
        xdotool("mousemove", str(x), str(y), "click", "1")
        tool.click(1003)
        panel = [c for c in tool.inspect("controls", "--title", TITLE)
                 if c["path"] == [] and c["class"] == "#32770"][0]["hwnd"]
        for control, text in ((1028, "Z:" + path.replace("/", "\\")), (1030, "admin"),
                              (1031, "bench")):
            tool.inspect("settext", "--hwnd", str(panel), "--id", str(control), "--text", text)
        button = tool.inspect("rect", "--hwnd", str(panel), "--id", "1036")[0]
        xdotool("mousemove", str(button["cx"]), str(button["cy"]), "click", "1")
        started = time.time()
        done = wait_until(lambda: devsim_events("upgrade_data"), timeout=600, interval=0.05)
        assert done, "the device got the whole package"
        return done[-1]["time_ms"] / 1000.0 - started
    finally:
        tool.post(0x0010)
        tool.wait_exit()
        tool.stop()


def inside_lan(args):
    size = args.mib * 1024 * 1024
    data = bytes((i * 7 + 3) % 251 for i in range(1 << 20)) * args.mib
    folder = os.environ.get("TMPDIR", "/tmp")
    path = os.path.join(folder, "bench.package")
    with open(path, "wb") as package:
        package.write(data)
    build = os.path.join(REPO, "build", "win")
    tool_seconds = tool_transfer(os.path.join(build, "Tessarin.exe"),
                                 os.path.join(build, "tools", "wininspect", "wininspect.exe"), path)
    raw_seconds = raw_transfer(data)
    result = {"bytes": size, "tool_seconds": round(tool_seconds, 3),
              "raw_seconds": round(raw_seconds, 3),
              "tool_mib_per_s": round(args.mib / tool_seconds, 1),
              "raw_mib_per_s": round(args.mib / raw_seconds, 1),
              "ratio_tool_to_raw": round(tool_seconds / raw_seconds, 2)}
    print(json.dumps(result))
    os.makedirs(os.path.dirname(args.out), exist_ok=True)
    with open(args.out, "w", encoding="utf-8") as out:
        json.dump(result, out, indent=2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--out", default=os.path.join(REPO, "build", "bench",
                                                      "upgrade_throughput.json"))
    args = parser.parse_args()
    if os.environ.get("TESSARIN_LAN_DIR"):
        inside_lan(args)
        return 0
    with tempfile.NamedTemporaryFile("w", suffix=".lan", delete=False) as lan:
        lan.write(LAN)
    try:
        return subprocess.call([os.path.join(REPO, "tests", "lan", "testlan"), "--lan", lan.name,
                                "--", sys.executable, os.path.abspath(__file__),
                                "--mib", str(args.mib), "--out", args.out])
    finally:
        os.unlink(lan.name)


if __name__ == "__main__":
    sys.exit(main())
