"""Headless Chromium driven over the DevTools protocol, for the browser checks and the web
benchmark (bidi.py drives Firefox with the same interface). Uses Debian's python3-websocket; run
with /usr/bin/python3.

    with Browser() as browser:
        browser.navigate(url)
        browser.wait_for("document.body.dataset.state === 'running'")
        browser.key("KeyC", "c", down=True)
        picture = browser.evaluate("tavrin_test.picture()")
"""

import argparse
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket

CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-gpu-sandbox", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--remote-debugging-address=127.0.0.1",
    "--remote-debugging-port=0", "--window-size=800,900",
]


class Check_Failed(Exception):
    pass


class Page_Driver:
    """What the checks do the same way in every browser, over a subclass's `evaluate`."""

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def wait_for(self, expression, timeout=20, what=None):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if self.evaluate(f"Boolean({expression})"):
                    return
            except Check_Failed:
                pass  # a page still loading has no document yet
            time.sleep(0.05)
        raise Check_Failed(f"waited {timeout} s for {what or expression}")

    def next_frames(self, count=2):
        """Returns once the page has begun `count` more animation frames."""
        self.evaluate("new Promise(done => { let left = %d; const next = () => "
                      "--left ? requestAnimationFrame(next) : done(); "
                      "requestAnimationFrame(next); })" % count)

    def forget_site(self, url):
        """Drops what the site of `url` keeps in this browser (the page's kept game, the studio's
        files and settings), from a page of the site that holds none of it open."""
        self.navigate(url.rsplit("/", 1)[0] + "/icon-192.png")
        self.evaluate("(async () => { localStorage.clear(); for (const { name } of "
                      "await indexedDB.databases()) { await new Promise((done, failed) => { "
                      "const request = indexedDB.deleteDatabase(name); request.onsuccess = done; "
                      "request.onerror = request.onblocked = failed; }); } })()")
        self.navigate("about:blank")  # and the icon's page has said all it will

    def picture(self):
        """The machine's upright picture now: 224 x 256 bytes, 0 or 255 each."""
        return base64.b64decode(self.evaluate("tavrin_test.picture()"))


class Browser(Page_Driver):
    def __init__(self, timeout=30, flags=()):
        """`flags`: Chromium's own, added to the checks' (--disable-webgl, say)."""
        self.profile = tempfile.mkdtemp(prefix="tavrin-chromium-")
        self.process = subprocess.Popen(
            ["chromium", *CHROMIUM_FLAGS, *flags, f"--user-data-dir={self.profile}",
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.next_id = 0
        self.fingers = {}  # the touch screen's fingers: {name: (x, y)} and their ids
        self.finger_ids = {}
        self.errors = []  # console errors and uncaught exceptions, as text
        self.events = []
        self.port = self._debugging_port(timeout)
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list"))
        page = next(t for t in targets if t["type"] == "page")
        self._attach(page["webSocketDebuggerUrl"], timeout)

    def _attach(self, address, timeout):
        self.socket = websocket.create_connection(address, timeout=timeout, suppress_origin=True)
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")

    def new_page(self, timeout=30):
        """Another tab of the same browser (same profile), driven as this one; it ends with the
        browser."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        page = object.__new__(Browser)
        page.next_id, page.fingers, page.finger_ids, page.errors, page.events = 0, {}, {}, [], []
        page._attach(f"ws://127.0.0.1:{self.port}/devtools/page/{target}", timeout)
        return page

    def _debugging_port(self, timeout):
        path = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Check_Failed(f"chromium ended at start with status {self.process.returncode}")
            if os.path.exists(path):
                with open(path) as file:
                    lines = file.read().split()
                if lines:
                    return int(lines[0])
            time.sleep(0.05)
        raise Check_Failed("chromium did not open its DevTools port")

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def _note(self, message):
        method, params = message.get("method"), message.get("params", {})
        self.events.append(message)
        if method == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
            self.errors.append(" ".join(str(a.get("value", a.get("description", "")))
                                        for a in params["args"]))
        elif method == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            self.errors.append(details.get("exception", {}).get("description", details["text"]))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.errors.append(params["entry"]["text"])

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise Check_Failed(f"{method}: {message['error']['message']}")
                return message["result"]
            self._note(message)

    def navigate(self, url):
        self.call("Page.navigate", url=url)

    def evaluate(self, expression, gesture=False):
        """The expression's value; with `gesture`, run as if the user had clicked (full screen
        asks for one)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True, userGesture=gesture)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise Check_Failed(f"{expression}: "
                               + details.get("exception", {}).get("description", details["text"]))
        return result["result"].get("value")

    def key(self, code, key, down, shift=False):
        """A key going down or up, as the keyboard sends it (code: "KeyC", key: "c")."""
        text = {"Enter": "\r"}.get(key, key if len(key) == 1 else "") if down else ""
        code_number = ord(key.upper()) if len(key) == 1 else {
            "Escape": 27, "Enter": 13, "Tab": 9, "Backspace": 8, "F2": 113, "F9": 120}[key]
        self.call("Input.dispatchKeyEvent", type="keyDown" if down else "keyUp", code=code,
                  key=key, text=text, windowsVirtualKeyCode=code_number,
                  modifiers=8 if shift else 0)

    def viewport(self, width, height, ratio=1, touch=False):
        """The page's viewport in CSS pixels at `ratio` device pixels each; a touch screen's,
        as a phone's, with `touch`. Takes effect at once, and for pages loaded afterwards."""
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=ratio, mobile=touch)
        self.call("Emulation.setTouchEmulationEnabled", enabled=touch, maxTouchPoints=5)

    def touch(self, points):
        """The fingers on the touch screen become `points`, {name: (x, y)}: those missing since
        the last call are lifted (touchEnd names them), those at another place slide there
        (touchMove), and new ones go down (touchStart)."""
        def send(kind, fingers):
            if fingers:
                self.call("Input.dispatchTouchEvent", type=kind, touchPoints=[
                    {"x": x, "y": y, "id": self.finger_ids.setdefault(name, len(self.finger_ids))}
                    for name, (x, y) in fingers.items()])
        before = self.fingers
        send("touchEnd", {name: place for name, place in before.items() if name not in points})
        staying = {name: place for name, place in points.items() if name in before}
        if staying != {name: before[name] for name in staying}:
            send("touchMove", staying)
        self.fingers = dict(points)
        if len(points) > len(staying):
            send("touchStart", self.fingers)

    def screenshot(self, clip=None):
        """The viewport as PNG bytes, in device pixels; with `clip` (x, y, width, height in CSS
        pixels of the document), that part of the document at one pixel per CSS pixel."""
        if clip is None:
            shot = self.call("Page.captureScreenshot", format="png")
        else:
            # Beyond the viewport the browser lays the page out again at its whole height, where
            # sizes in vh differ: only for a part that is not in view.
            left, top, width, height = self.evaluate("[scrollX, scrollY, innerWidth, innerHeight]")
            beyond = not (left <= clip[0] and clip[0] + clip[2] <= left + width and
                          top <= clip[1] and clip[1] + clip[3] <= top + height)
            shot = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=beyond,
                             clip=dict(zip(("x", "y", "width", "height"), clip), scale=1))
        return base64.b64decode(shot["data"])

    def select_all(self):
        """Ctrl+A where the focus is."""
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key="a", code="KeyA",
                      windowsVirtualKeyCode=65, modifiers=2)

    def insert_text(self, text):
        """`text` typed into the focused element, as a keyboard's input method commits it."""
        self.call("Input.insertText", text=text)

    def choose_files(self, selector, paths):
        """The file input `selector` given `paths`, as if the user had chosen them."""
        node = self.call("DOM.querySelector", selector=selector,
                         nodeId=self.call("DOM.getDocument")["root"]["nodeId"])["nodeId"]
        self.call("DOM.setFileInputFiles", files=[os.path.abspath(p) for p in paths],
                  nodeId=node)


def run_check(name, check, arguments):
    """Runs `check(arguments, browser)` in a fresh Chromium and prints "PASS NAME" or
    "FAIL NAME: why"; returns the exit status."""
    try:
        with Browser() as browser:
            check(arguments, browser)
    except Check_Failed as failure:
        print(f"FAIL {name}: {failure}")
        return 1
    print(f"PASS {name}")
    return 0


def check_main(checks, page, options=()):
    """The command line of a file of checks: CHECK, where the page is (--server FILE, which
    holds the server's address, or --url URL), --work DIR for files, and the options its
    checks read (each required)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(checks))
    parser.add_argument("--server")
    parser.add_argument("--url")
    parser.add_argument("--work", default="web-checks")
    for option in options:
        parser.add_argument(option, required=True)
    arguments = parser.parse_args()
    if arguments.server:
        with open(arguments.server) as file:
            arguments.url = file.read().strip() + page
    return run_check(arguments.check, checks[arguments.check], arguments)
