#!/usr/bin/env python3
"""Discovery at scale: how many of N devices the real Tessarin.exe lists after one search, and
how long the list takes to fill.

For each N (default 250, 1000, 4000) a test LAN is built with one simulated IPCAMERA answering
every search as N devices (`clones = N-1`: unique MACs and addresses inside 10.77.0.0/16). In the
PC namespace the tool is started under Wine, Search is clicked with xdotool, and the row count is
polled with LVM_GETITEMCOUNT (one message, cheap at any size; reading the rows is not). Measured:
rows listed, time from the click to the first and the last row, devsim's send span and send
errors, and the kernel's UDP counters of the PC namespace (RcvbufErrors: datagrams dropped because
the endpoint socket's receive buffer was full), plus that socket's buffer size as `ss` reports it.

    bench/discovery_scale.py [--sizes 250 1000 4000] [--verify-rows] [--out FILE]

A benchmark, not a test: it exits 0 whatever it measures, non-zero only when it could not measure.
The table goes to stdout, the figures to build/bench/discovery_scale.json.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

LIST_ID = 1000
SEARCH_ID = 1001
LVM_GETITEMCOUNT = 0x1004
WM_CLOSE = 0x0010
PC_ADDRESS = "10.77.0.1"
# The first device; clone k announces this address + k and MAC + k, so 4000 devices reach
# 10.77.16.169 and stay far inside the /16.
FIRST_IP = "10.77.1.10"
FIRST_MAC = "02:54:53:10:00:00"

# Each poll starts a Wine process, which costs CPU the tool then lacks: the interval grows with
# the time already waited, so the last-row figure keeps a resolution of about 5 %.
POLL_MIN_INTERVAL = 0.2
POLL_MAX_INTERVAL = 2.0
POLL_RELATIVE_INTERVAL = 0.05
# The list is taken as final when its count has not moved for this long.
SETTLE_SECONDS = 5.0
# Per size, from the click: a bound on a pathological run, far above any sane figure.
MEASURE_CAP_SECONDS = 240.0
# Per size, the whole LAN (about 15 s of set-up, the measurement, teardown).
LAN_TIMEOUT_SECONDS = 420.0


def lan_text(n):
    return "\n".join([
        f"# Discovery bench: one simulated camera answering each search as {n} devices.",
        "[device]",
        "model = IPCAMERA",
        "name = Bench camera",
        "firmware = 4.1.46.5",
        f"ip = {FIRST_IP}",
        "mask = 255.255.0.0",
        f"mac = {FIRST_MAC}",
        f"clones = {n - 1}",
        "",
    ])


# ----------------------------------------------------------------------------------------------
# Inside the PC namespace (run by testlan)


def udp_counters(text):
    """The Udp: lines of /proc/net/snmp as a dict."""
    lines = [line.split() for line in text.splitlines() if line.startswith("Udp:")]
    if len(lines) < 2:
        return {}
    return {key: int(value) for key, value in zip(lines[0][1:], lines[1][1:])}


def read_udp_counters(namespace=None):
    command = ["cat", "/proc/net/snmp"]
    if namespace:
        command = ["ip", "netns", "exec", namespace, *command]
    result = subprocess.run(command, capture_output=True, text=True, timeout=30)
    return udp_counters(result.stdout) if result.returncode == 0 else {}


def counter_delta(before, after):
    return {key: after[key] - before.get(key, 0) for key in after
            if key in ("InDatagrams", "InErrors", "RcvbufErrors", "SndbufErrors", "OutDatagrams")}


def endpoint_memory():
    """(queued, limit): bytes waiting in the tool's UDP socket on the PC's interface and its
    receive buffer limit, from ss; (None, None) when there is no such socket. Wine binds an
    endpoint on an interface address as 0.0.0.0 with SO_BINDTODEVICE, so ss shows 0.0.0.0%eth0."""
    result = subprocess.run(["ss", "-uamnH"], capture_output=True, text=True, timeout=30)
    match = re.search(r"(?:%eth0|" + re.escape(PC_ADDRESS) + r"):\d+.*?skmem:\(r(\d+),rb(\d+)",
                      result.stdout, re.S)
    return (int(match.group(1)), int(match.group(2))) if match else (None, None)


def read_sysctl(name):
    try:
        with open("/proc/sys/" + name.replace(".", "/"), encoding="ascii") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None


def devsim_figures(click_wall):
    log = os.path.join(os.environ["TESSARIN_LAN_DIR"], "devices", "1.log")
    replies = errors = 0
    first = last = None
    reasons = {}
    with open(log, encoding="utf-8") as f:
        for line in f:
            record = json.loads(line)
            if record.get("event") == "reply":
                replies += 1
                stamp = record["time_ms"]
                first = stamp if first is None else first
                last = stamp
            elif record.get("event") == "send_error":
                errors += 1
                reasons[record.get("reason")] = reasons.get(record.get("reason"), 0) + 1
    return {
        "replies_sent": replies,
        "send_errors": errors,
        "send_error_reasons": reasons,
        "first_reply_after_click_s": None if first is None else round(first / 1000 - click_wall, 3),
        "send_span_ms": None if first is None else last - first,
    }


def measure(n, result_path, exe, inspector, verify_rows):
    from tessarin_e2e import TITLE, Tool, require_sandbox, xdotool

    require_sandbox()
    artifacts = os.path.join(os.environ["TESSARIN_LAN_DIR"], "bench-artifacts")
    tool = Tool(exe, inspector, artifacts)
    try:
        tool.wait_for_window()
        time.sleep(0.5)

        def row_count():
            """The list's row count, or None when the window did not answer within wininspect's
            5 s (its thread busy in one long handler: worth seeing in the samples)."""
            answer = tool.inspect("send", "--title", TITLE, "--id", str(LIST_ID),
                                  "--msg", hex(LVM_GETITEMCOUNT), check=False)
            return answer[0]["result"] if answer else None

        search = tool.rect(SEARCH_ID)
        pc_before = read_udp_counters()
        device_ns = os.environ["TESSARIN_LAN_NS_PREFIX"] + "d1"
        device_before = read_udp_counters(device_ns)

        click_wall = time.time()
        click = time.monotonic()
        xdotool("mousemove", str(search["cx"]), str(search["cy"]), "click", "1")

        # (seconds since the click, row count, bytes still queued in the endpoint socket): the
        # queue shows whether the receiver thread or the window's handling is behind.
        samples = []
        buffer_size = None
        last_change = click
        count = 0
        unanswered = 0
        while True:
            time.sleep(min(POLL_MAX_INTERVAL, max(POLL_MIN_INTERVAL, POLL_RELATIVE_INTERVAL
                                                  * (time.monotonic() - click))))
            now_count = row_count()
            now = time.monotonic()
            queued, limit = endpoint_memory()
            buffer_size = buffer_size or limit
            samples.append((round(now - click, 3), now_count, queued))
            if now_count is None:
                unanswered += 1
                if now - click < MEASURE_CAP_SECONDS:
                    continue
                break
            if now_count != count:
                count, last_change = now_count, now
            if count >= n:
                break
            if now - last_change >= SETTLE_SECONDS or now - click >= MEASURE_CAP_SECONDS:
                break

        first_row = next((t for t, c, _ in samples if c), None)
        last_row = next((t for t, c, _ in samples if c == count), None) if count > 0 else None
        # When the socket was first seen empty: all replies handed from the kernel to the tool.
        drained = next((t for t, _, q in samples if q == 0), None)
        result = {
            "n": n,
            "listed": count,
            "lost": n - count,
            "first_row_s": first_row,
            "last_row_s": last_row,
            "socket_drained_s": drained,
            "unanswered_polls": unanswered,
            "stopped_s": samples[-1][0],
            # Still adding rows when the cap ended the wait: the missing ones were not lost, they
            # were not listed yet.
            "capped": count < n and time.monotonic() - last_change < SETTLE_SECONDS,
            "pc_udp": counter_delta(pc_before, read_udp_counters()),
            "device_udp": counter_delta(device_before, read_udp_counters(device_ns)),
            "endpoint_rcvbuf_bytes": buffer_size,
            "rmem_default": read_sysctl("net.core.rmem_default"),
            "rmem_max": read_sysctl("net.core.rmem_max"),
            "samples": samples,
        }
        result.update(devsim_figures(click_wall))

        if verify_rows:
            started = time.monotonic()
            records = tool.inspect("list", "--title", TITLE, "--id", str(LIST_ID))
            rows = [r["cells"] for r in records if "row" in r]
            macs = {row[8] for row in rows}
            result["verified"] = {
                "rows": len(rows),
                "distinct_macs": len(macs),
                "numbered_in_order": [row[0] for row in rows] == [str(i + 1)
                                                                   for i in range(len(rows))],
                "read_s": round(time.monotonic() - started, 1),
            }
    finally:
        try:
            tool.post(WM_CLOSE)
            tool.wait_exit()
        finally:
            tool.stop()

    with open(result_path, "w", encoding="utf-8") as f:
        json.dump(result, f)
    return 0


# ----------------------------------------------------------------------------------------------
# On the machine: one test LAN per size


def run_size(n, work, exe, inspector, verify_rows):
    lan = os.path.join(work, f"scale-{n}.lan")
    result_path = os.path.join(work, f"scale-{n}.json")
    with open(lan, "w", encoding="ascii") as f:
        f.write(lan_text(n))
    command = [os.path.join(REPO, "tests", "lan", "testlan"), "--lan", lan, "--",
               sys.executable, os.path.abspath(__file__), "--measure", str(n), result_path,
               exe, inspector] + (["--verify-rows"] if verify_rows else [])
    started = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL)
    try:
        status = process.wait(timeout=LAN_TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        # testlan tears its LAN down on TERM.
        process.send_signal(signal.SIGTERM)
        process.wait()
        status = "timeout"
    if status != 0 or not os.path.exists(result_path):
        print(f"discovery_scale: N={n}: testlan ended with {status}", file=sys.stderr)
        return None
    with open(result_path, encoding="utf-8") as f:
        result = json.load(f)
    result["lan_wall_s"] = round(time.monotonic() - started, 1)
    return result


def fmt(value, digits=1):
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def print_table(results):
    header = ["N", "listed", "lost", "first row s", "last row s", "socket empty s",
              "devsim span ms", "send errs", "RcvbufErrors", "rcvbuf B"]
    rows = [[fmt(r["n"]), fmt(r["listed"]), "cap" if r["capped"] else fmt(r["lost"]),
             fmt(r["first_row_s"], 2), fmt(r["last_row_s"], 2), fmt(r["socket_drained_s"], 2),
             fmt(r["send_span_ms"]), fmt(r["send_errors"]), fmt(r["pc_udp"].get("RcvbufErrors")),
             fmt(r["endpoint_rcvbuf_bytes"])]
            for r in results]
    widths = [max(len(line[i]) for line in [header] + rows) for i in range(len(header))]
    for line in [header] + rows:
        print("  ".join(cell.rjust(width) for cell, width in zip(line, widths)))
    if any(r["capped"] for r in results):
        print(f"cap: the list was still growing {MEASURE_CAP_SECONDS:.0f} s after the click; "
              "the rest were not listed yet (see RcvbufErrors for drops)")


def git_state():
    def git(*args):
        result = subprocess.run(["git", "-C", REPO, *args], capture_output=True, text=True)
        return result.stdout.strip() if result.returncode == 0 else None
    return {"commit": git("rev-parse", "--short", "HEAD"),
            "dirty": bool(git("status", "--porcelain", "--untracked-files=no"))}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[250, 1000, 4000])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "win", "Tessarin.exe"))
    parser.add_argument("--inspector", default=os.path.join(REPO, "build", "win", "tools",
                                                            "wininspect", "wininspect.exe"))
    parser.add_argument("--out", default=os.path.join(REPO, "build", "bench",
                                                      "discovery_scale.json"))
    parser.add_argument("--verify-rows", action="store_true",
                        help="read every row once at the end (about 7 ms a row) and check MACs")
    parser.add_argument("--measure", nargs=2, metavar=("N", "RESULT"), help=argparse.SUPPRESS)
    parser.add_argument("measure_tools", nargs="*", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.measure:
        exe, inspector = args.measure_tools
        return measure(int(args.measure[0]), args.measure[1], exe, inspector, args.verify_rows)

    for size in args.sizes:
        if not 1 <= size <= 60000:
            parser.error(f"size {size}: 1 to 60000 devices fit the bench's /16")
    for path in (args.exe, args.inspector):
        if not os.path.exists(path):
            parser.error(f"{path} is missing: make build first")
    exe, inspector = os.path.abspath(args.exe), os.path.abspath(args.inspector)

    work = tempfile.mkdtemp(prefix="tessarin-bench-")
    results = []
    try:
        for n in args.sizes:
            result = run_size(n, work, exe, inspector, args.verify_rows)
            if result is None:
                return 1
            results.append(result)
            print(f"N={n}: {result['listed']} listed, last row after "
                  f"{fmt(result['last_row_s'], 2)} s", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print()
    print_table(results)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    report = {
        "bench": "discovery_scale",
        "when": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "exe": exe,
        "exe_mtime": datetime.datetime.fromtimestamp(
            os.path.getmtime(exe), datetime.timezone.utc).isoformat(timespec="seconds"),
        "git": git_state(),
        "results": results,
    }
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1)
    print(f"\nwritten: {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
