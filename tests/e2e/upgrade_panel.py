"""The upgrade panel driven as an installer drives it: select a device in the list, open the
Upgrade tab, type the package path and the credentials, press Upgrade and watch the bar."""

import contextlib
import os
import time

from tessarin_e2e import WM_CLOSE, Tool, list_rows, row_point, wait_until, xdotool

PBM_GETPOS = 0x0408
# However the upgrade stands, the program ends this soon after its window is told to close.
CLOSE_LIMIT_S = 2.5


def package(name, size):
    """A package file in the run's scratch folder, and its path as the tool sees it."""
    folder = os.environ.get("TMPDIR", "/tmp")
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(bytes((i * 7 + 3) % 251 for i in range(size)))
    return path, "Z:" + path.replace("/", "\\")


class UpgradeSession:
    """The tool started, a search made that found `devices` rows, the Upgrade tab open."""

    def __init__(self, exe, inspector, artifacts, devices):
        self.tool = Tool(exe, inspector, artifacts)
        self.tool.wait_for_window()
        time.sleep(0.5)
        self.tool.click(1001)
        wait_until(lambda: len(list_rows(self.tool)) >= devices, timeout=15)
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

    def click(self, control_id):
        r = self.tool.inspect("rect", "--hwnd", str(self.panel), "--id", str(control_id))[0]
        xdotool("mousemove", str(r["cx"]), str(r["cy"]), "click", "1")

    def path(self):
        """The text of the package path field."""
        return [c for c in self.tool.inspect("controls", "--hwnd", str(self.panel))
                if c["id"] == 1028][0]["text"]

    def upgrade(self):
        self.click(1036)

    def start(self, mac, path, user, password):
        """Selects the device, fills the form and presses Upgrade."""
        self.select(mac)
        self.fill(path, user, password)
        self.upgrade()

    def bar(self):
        """The bar's position, read with a message the user-interface thread must answer."""
        return self.tool.inspect("send", "--hwnd", str(self.panel), "--id", "1029",
                                 "--msg", str(PBM_GETPOS))[0]["result"]

    def watch_bar(self, until, timeout):
        """The bar's positions, sampled until `until(position)` holds or the time is up."""
        seen = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            position = self.bar()
            if not seen or seen[-1] != position:
                seen.append(position)
            if until(position):
                break
            time.sleep(0.2)
        return seen

    def close(self):
        self.tool.post(WM_CLOSE)
        assert self.tool.wait_exit(timeout=10) is not None, "closing ends the program"
        self.tool.stop()

    def close_quickly(self):
        """Closes the window and checks that the program ends within CLOSE_LIMIT_S."""
        self.tool.post(WM_CLOSE)
        started = time.monotonic()
        assert self.tool.wait_exit(timeout=10) is not None, "closing ends the program"
        elapsed = time.monotonic() - started
        print(f"the program ended {elapsed:.2f} s after the close", flush=True)
        assert elapsed < CLOSE_LIMIT_S, f"the program took {elapsed:.1f} s to end"


@contextlib.contextmanager
def upgrade_session(exe, inspector, artifacts, devices):
    """An UpgradeSession for a `with` block; a tool the block left running is ended after it."""
    session = UpgradeSession(exe, inspector, artifacts, devices)
    try:
        yield session
    finally:
        session.tool.stop()
