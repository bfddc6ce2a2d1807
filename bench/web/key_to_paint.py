"""The studio's editor under typing: the time from a key's event to the next paint, in headless
Chromium, for a source of 3,000 and of 20,000 lines (median and slowest of 40 keys typed in
the middle of the file, the diagnostics' worker running as it does for an author).

Usage: /usr/bin/python3 bench/web/key_to_paint.py [SITE]   (SITE: build/web, from scripts/build-web)
"""

import functools
import http.server
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import Browser  # noqa: E402

KEYS = 40
# Each key's event time, then a frame later (after that frame's paint) the time it took.
MEASURE = """(() => {
  window.key_times = [];
  document.querySelector('#editor .cm-content').addEventListener('keydown', (event) => {
    if (event.key.length !== 1) return;
    const start = performance.now();
    requestAnimationFrame(() => setTimeout(() => key_times.push(performance.now() - start)));
  }, true);
})()"""


def source(lines):
    body = ["        ORG 0", "        LXI SP,2400H"]
    for n in range(lines - 3):
        body.append(f"l{n}:    MVI A,{n % 256}      ; line {n}" if n % 10 == 0 else
                    f"        ADD B               ; {n}")
    return "\n".join(body + ["done:   JMP done", ""])


def measure(browser, url, lines):
    browser.navigate(url)
    browser.wait_for("document.body.dataset.state === 'ready'", what="the studio to load")
    browser.evaluate(f"tavrin_studio.set_source({source(lines)!r})")
    browser.evaluate(MEASURE)
    browser.evaluate("(() => { const view = document.querySelector('#editor .cm-content'); view.focus(); })()")
    for _ in range(lines // 2 // 40):  # to the middle of the file
        browser.call("Input.dispatchKeyEvent", type="rawKeyDown", key="PageDown", code="PageDown",
                     windowsVirtualKeyCode=34)
    time.sleep(1)
    for n in range(KEYS):
        letter = "abcdefghij"[n % 10]
        browser.call("Input.dispatchKeyEvent", type="keyDown", key=letter, code=f"Key{letter.upper()}",
                     text=letter, windowsVirtualKeyCode=ord(letter.upper()))
        browser.call("Input.dispatchKeyEvent", type="keyUp", key=letter, code=f"Key{letter.upper()}",
                     windowsVirtualKeyCode=ord(letter.upper()))
        time.sleep(0.15)
    times = browser.evaluate("key_times")
    return statistics.median(times), max(times), len(times)


def main():
    site = sys.argv[1] if len(sys.argv) > 1 else "build/web"
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=site)
    http.server.SimpleHTTPRequestHandler.log_message = lambda *arguments: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/studio.html"
    with Browser() as browser:
        browser.viewport(1366, 768)
        for lines in (3000, 20000):
            median, slowest, count = measure(browser, url, lines)
            print(f"key to paint, {lines} lines: median {median:.1f} ms, slowest {slowest:.1f} ms "
                  f"({count} keys)")
    server.shutdown()


if __name__ == "__main__":
    main()
