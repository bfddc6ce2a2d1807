"""Firefox driven over WebDriver BiDi (its remote agent's websocket), with the interface of
browser.py's Chromium, so that the same checks run in both. Firefox gets a fresh profile in a
temporary folder and, unless headless, a virtual X server of its own. Uses Debian's
python3-websocket; run with /usr/bin/python3.

    with Firefox(headless=True) as browser:   # without a display, so without WebGL
        browser.navigate(url)
        browser.wait_for("document.body.dataset.state === 'running'")
"""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

import websocket

from browser import Check_Failed, Page_Driver

# Keys that are not characters, as WebDriver names them.
SPECIAL_KEYS = {"Escape": "\ue00c", "Enter": "\ue007", "Tab": "\ue004", "Shift": "\ue008",
                "Control": "\ue009"}
# Without these a fresh profile spends its first seconds on its own business.
PREFERENCES = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.page": 0,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
}


def value_of(remote):
    """A BiDi RemoteValue as Python's value; a node (or another reference) as itself."""
    kind, value = remote["type"], remote.get("value")
    if kind in ("undefined", "null"):
        return None
    if kind == "number" and isinstance(value, str):  # NaN, -0, Infinity, -Infinity
        return float(value)
    if kind in ("number", "string", "boolean"):
        return value
    if kind == "bigint":
        return int(value)
    if kind in ("array", "set"):
        return [value_of(item) for item in value]
    if kind in ("object", "map"):
        return {key if isinstance(key, str) else value_of(key): value_of(item)
                for key, item in value}
    return remote


class Virtual_Display:
    """A private X server (Xvfb) with a 1920 x 1080 screen, as scripts/with-display gives."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.close()
            raise Check_Failed("Xvfb did not start")
        self.name = f":{number}"

    def close(self):
        self.process.terminate()
        self.process.wait()


class Firefox(Page_Driver):
    def __init__(self, headless=False, timeout=30):
        self.profile = tempfile.mkdtemp(prefix="tavrin-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w") as file:
            file.writelines(f'user_pref("{name}", {json.dumps(value)});\n'
                            for name, value in PREFERENCES.items())
        self.display = None if headless else Virtual_Display()
        # Headless, as on a server without a display: Firefox then has no WebGL at all (given a
        # display, it draws WebGL through it even when headless).
        environment = {name: value for name, value in os.environ.items()
                       if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment["MOZ_CRASHREPORTER_DISABLE"] = "1"
        if self.display:
            environment["DISPLAY"] = self.display.name
        self.process = subprocess.Popen(
            ["firefox-esr", *(["-headless"] if headless else []), "-no-remote", "-profile",
             self.profile, "--remote-debugging-port", "0", "about:blank"],
            env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.next_id = 0
        self.errors = []  # console errors and uncaught exceptions, as text
        self.events = []
        self.keys_down = set()
        try:
            port = self._remote_port(timeout)
            self.socket = websocket.create_connection(f"ws://127.0.0.1:{port}/session",
                                                      timeout=timeout, suppress_origin=True)
            self.call("session.new", capabilities={})
            self.context = self.call("browsingContext.getTree", maxDepth=0)["contexts"][0][
                "context"]
            self.call("session.subscribe", events=["log.entryAdded"])
            self.viewport(800, 900)  # as the Chromium of the checks
        except BaseException:
            self.close()
            raise

    def _remote_port(self, timeout):
        path = os.path.join(self.profile, "WebDriverBiDiServer.json")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Check_Failed(f"firefox ended at start with status {self.process.returncode}")
            try:
                with open(path) as file:
                    return json.load(file)["ws_port"]
            except (OSError, ValueError, KeyError):
                time.sleep(0.05)
        raise Check_Failed("firefox did not open its remote agent's port")

    def close(self):
        try:
            self.call("browser.close")
        except Exception:
            pass
        try:
            self.socket.close()
        except Exception:
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.display:
            self.display.close()
        shutil.rmtree(self.profile, ignore_errors=True)

    def _note(self, message):
        self.events.append(message)
        params = message.get("params", {})
        if message.get("method") == "log.entryAdded" and params.get("level") == "error":
            self.errors.append(params.get("text") or "")

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if message.get("type") == "error":
                    raise Check_Failed(f"{method}: {message['error']}: {message['message']}")
                return message["result"]
            self._note(message)

    def navigate(self, url):
        """Returns once the new document is there (its scripts may still be loading the
        module)."""
        self.call("browsingContext.navigate", context=self.context, url=url, wait="interactive")

    def _evaluate(self, expression, gesture=False):
        result = self.call("script.evaluate", expression=expression, awaitPromise=True,
                           target={"context": self.context}, resultOwnership="none",
                           userActivation=gesture)
        if result["type"] == "exception":
            details = result["exceptionDetails"]
            raise Check_Failed(f"{expression}: {details.get('text', details)}")
        return result["result"]

    def evaluate(self, expression, gesture=False):
        """The expression's value; with `gesture`, run as if the user had clicked."""
        return value_of(self._evaluate(expression, gesture))

    def _keys(self, *actions):
        self.call("input.performActions", context=self.context,
                  actions=[{"type": "key", "id": "keyboard", "actions": list(actions)}])

    def key(self, code, key, down, shift=False):
        """A key going down or up; Firefox takes its place (`code`) from the key itself, as on
        a US keyboard."""
        value = SPECIAL_KEYS.get(key, key)
        action = {"type": "keyDown" if down else "keyUp", "value": value}
        if shift:
            shift_key = SPECIAL_KEYS["Shift"]
            self._keys(*([{"type": "keyDown", "value": shift_key}, action] if down else
                         [action, {"type": "keyUp", "value": shift_key}]))
        else:
            self._keys(action)

    def select_all(self):
        """Ctrl+A where the focus is."""
        control = SPECIAL_KEYS["Control"]
        self._keys({"type": "keyDown", "value": control}, {"type": "keyDown", "value": "a"},
                   {"type": "keyUp", "value": "a"}, {"type": "keyUp", "value": control})

    def viewport(self, width, height, ratio=1, touch=False):
        if touch:
            raise Check_Failed("this client does not make Firefox a touch screen")
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": height}, devicePixelRatio=ratio)

    def screenshot(self, clip=None):
        """The viewport as PNG bytes; with `clip` (x, y, width, height in CSS pixels of the
        document), that part of the document."""
        if clip is None:
            shot = self.call("browsingContext.captureScreenshot", context=self.context,
                             origin="viewport")
        else:
            shot = self.call("browsingContext.captureScreenshot", context=self.context,
                             origin="document", clip=dict(
                                 zip(("x", "y", "width", "height"), clip), type="box"))
        return base64.b64decode(shot["data"])

    def insert_text(self, text):
        """`text` typed into the focused element as an input method commits it (the editing
        command fires the input events that typing does)."""
        self.evaluate(f"document.execCommand('insertText', false, {json.dumps(text)})")

    def choose_files(self, selector, paths):
        node = self._evaluate(f"document.querySelector({json.dumps(selector)})")
        self.call("input.setFiles", context=self.context,
                  element={"sharedId": node["sharedId"]},
                  files=[os.path.abspath(path) for path in paths])
