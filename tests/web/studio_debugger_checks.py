"""The studio's debugger in depth, its layout and its offline start: studio.html in headless
Chromium. One check per run, so that each counts as a test of its own.

Usage: studio_debugger_checks.py CHECK (--server ADDRESS_FILE | --url URL) --site DIR
--site is the built page's folder (build/web), served on its own for the offline check.
"""

import json
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, check_main  # noqa: E402
from studio_checks import ready, result, type_into_editor  # noqa: E402

# A call two deep, a word stored, and the lines the checks know.
CALLS = """\
count   EQU 2100H
        ORG 0
        LXI SP,2400H
        LXI H,1234H
        SHLD count
        CALL outer
after:  JMP after
outer:  CALL inner
back:   RET
inner:  NOP
        RET
"""
CALL_LINE, AFTER_LINE, OUTER_CALL_LINE, BACK_LINE, INNER_LINE = 6, 7, 8, 9, 10
AFTER, BACK = 0x000C, 0x0012

# A frame counted by the first interrupt of each frame; the break 36,000 frames away.
FAR = """\
count   EQU 2100H
        ORG 0
        JMP start
        ORG 8
        JMP tick
        ORG 10H
        EI
        RET
tick:   PUSH H
        LHLD count
        INX H
        SHLD count
        POP H
        EI
        RET
start:  LXI SP,2400H
        LXI H,0
        SHLD count
        EI
wait:   LHLD count
        MOV A,H
        CPI HIGH 36000
        JNZ wait
        MOV A,L
        CPI LOW 36000
        JNZ wait
far:    JMP far
"""
FAR_LINE = 27

# The keys' port stored where a watch reads it.
KEYS = """\
        ORG 0
        LXI SP,2400H
loop:   IN 1
        STA 2100H
        JMP loop
"""
RIGHT = 0x40  # D's bit of port 1

# A store outside RAM, over and over.
FAULTS = """\
        ORG 0
        LXI SP,2400H
loop:   STA 1000H
        JMP loop
"""
FAULT_LINE = 3


def assembled(browser, url, source):
    ready(browser, url)
    type_into_editor(browser, source)
    outcome = result(browser, "assemble()")
    if not outcome["ok"]:
        raise Check_Failed(f"the program does not assemble: {outcome['errors']}")


def function_key(browser, key, code, shift=False, ctrl=False):
    for kind in ("rawKeyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", type=kind, key=key, code=key,
                     windowsVirtualKeyCode=code, modifiers=(8 if shift else 0) | (2 if ctrl else 0))


def expect(what, got, wanted):
    if got != wanted:
        raise Check_Failed(f"{what}: {got!r}, not {wanted!r}")


def check_step_out_calls_and_watches(arguments, browser):
    """Shift+F11 on the page returns from the callee to the caller's next line; the call stack
    holds the calls with their lines; watch expressions read symbols, bytes and words."""
    assembled(browser, arguments.url, CALLS)
    browser.evaluate("tavrin_studio.break_at('inner')")
    stop = result(browser, "continue_to_break(10)")
    expect("the break in the callee", (stop["stopped"], stop["line"]), (True, INNER_LINE))
    calls = result(browser, "call_stack()")
    expect("the call stack, innermost first", [(c["line"], c["return"]) for c in calls],
           [(OUTER_CALL_LINE, BACK), (CALL_LINE, AFTER)])
    shown = browser.evaluate("document.getElementById('call-stack').textContent")
    if "outer" not in shown.lower() or f"main.asm:{CALL_LINE}" not in shown:
        raise Check_Failed(f"the call stack view shows {shown!r}")
    function_key(browser, "F11", 122, shift=True)
    expect("after Shift+F11, PC", result(browser, "registers()")["pc"], BACK)
    expect("the call stack after step out", len(result(browser, "call_stack()")), 1)
    out = result(browser, "step_out()")
    expect("step_out() lands on", (out["pc"], out["line"]), (AFTER, AFTER_LINE))
    expect("the call stack at the top", result(browser, "call_stack()"), [])
    for expression, value in (("count", 0x2100), ("w[count]", 0x1234), ("b[2100H]", 0x34),
                              ("[count+1]", 0x12), ("HL", 0x1234), ("w[SP-2]", AFTER)):
        expect(f"watch {expression}", result(browser, f"watch({expression!r})"), {"value": value})
    if "error" not in result(browser, "watch('nowhere')"):
        raise Check_Failed("an unknown name gives no error")
    # Run to a line: from the start to the line after the CALL.
    browser.evaluate("tavrin_studio.reset(), tavrin_studio.clear_breaks()")
    to = result(browser, f"run_to('main.asm', {AFTER_LINE})")
    expect("run_to lands on", (to["pc"], to["line"]), (AFTER, AFTER_LINE))
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


def check_run_fast(arguments, browser):
    """tavrin_studio.run_fast() and the Run fast button are one run: the call reaches a break
    36,000 frames away with its place and frames, the page's Pause ends the call's run, and the
    button stops at the break and says so. The times and frames per second are printed (its
    speed is for a benchmark to hold, not a timed test: the bound wanted is 10 s)."""
    assembled(browser, arguments.url, FAR)
    browser.evaluate("tavrin_studio.break_at('far')")
    start = time.monotonic()
    running = browser.evaluate("window.fast = tavrin_studio.run_fast(40000), "
                               "document.body.dataset.running")
    expect("the page while run_fast runs", running, "yes")
    stop = browser.evaluate("window.fast.then(JSON.stringify)")
    seconds = time.monotonic() - start
    stop = json.loads(stop)
    print(f"run_fast: {stop['frames']} frames in {seconds:.2f} s, "
          f"{stop['frames'] / seconds:,.0f} frames a second")
    expect("run_fast stops at", (stop["stopped"], stop["file"], stop["line"], stop["pc"]),
           (True, "main.asm", FAR_LINE, result(browser, "watch('far')")["value"]))
    if not 35990 <= stop["frames"] <= 36010:
        raise Check_Failed(f"run_fast stopped after {stop['frames']} frames, not 36,000")
    browser.evaluate("tavrin_studio.reset(), window.fast = tavrin_studio.run_fast(1000000), 0")
    browser.wait_for("studio_core.state().frames > 100", what="run_fast to run")
    browser.evaluate("document.getElementById('pause').click()")
    stop = json.loads(browser.evaluate("window.fast.then(JSON.stringify)"))
    if stop["stopped"] or not 100 < stop["frames"] < 36000:
        raise Check_Failed(f"run_fast after Pause: {stop}")
    browser.evaluate("tavrin_studio.reset()")
    start = time.monotonic()
    browser.evaluate("document.getElementById('run-fast').click()")
    browser.wait_for("document.body.dataset.running === 'no'", timeout=60,
                     what="Run fast to stop at the break")
    seconds = time.monotonic() - start
    frames = browser.evaluate("studio_core.state().frames")
    rate = browser.evaluate("document.getElementById('status').textContent")
    print(f"Run fast: {frames} frames in {seconds:.2f} s, {frames / seconds:,.0f} frames a second")
    expect("PC at the break", result(browser, "registers()")["pc"],
           result(browser, "watch('far')")["value"])
    if not 35990 <= frames <= 36010:
        raise Check_Failed(f"stopped after {frames} frames, not 36,000")
    if "breakpoint" not in rate:
        raise Check_Failed(f"the status says {rate!r}")


def check_faults(arguments, browser):
    """A store outside RAM is listed among the faults at its line; with "stop on them" set (kept
    in the browser over a reload), a run stops after it and says which fault, where."""
    assembled(browser, arguments.url, FAULTS)
    browser.evaluate("tavrin_studio.run_frames(1)")
    shown = browser.evaluate("document.getElementById('faults').textContent")
    if f"main.asm:{FAULT_LINE}" not in shown or "1000 dropped" not in shown:
        raise Check_Failed(f"the faults view shows {shown!r}")
    browser.evaluate("document.getElementById('stop-on-faults').click()")
    ready(browser, arguments.url)
    if not result(browser, "assemble()")["ok"]:
        raise Check_Failed("the program does not assemble after the reload")
    stop = json.loads(browser.evaluate("tavrin_studio.run_fast(10).then(JSON.stringify)"))
    expect("run_fast with stop on faults", (stop["stopped"], stop["line"], stop["frames"]),
           (True, FAULT_LINE + 1, 0))
    status = browser.evaluate("document.getElementById('status').textContent")
    if f"main.asm:{FAULT_LINE}" not in status or "dropped" not in status:
        raise Check_Failed(f"the status says {status!r}")


def check_keys_only_from_the_picture(arguments, browser):
    """D typed while the editor has the focus stays in the editor; on the focused picture it
    reaches the machine, and the page says where the keys go."""
    assembled(browser, arguments.url, KEYS)
    browser.key("KeyD", "d", True)
    browser.key("KeyD", "d", False)
    browser.key("KeyD", "d", True)
    browser.evaluate("tavrin_studio.run_frames(3)")
    expect("port 1 with D held in the editor", result(browser, "watch('b[2100H]')")["value"] & RIGHT, 0)
    browser.key("KeyD", "d", False)
    browser.evaluate("document.getElementById('canvas').focus()")
    if "machine has the keys" not in browser.evaluate("document.getElementById('keys-focus').textContent"):
        raise Check_Failed("the page does not say that the machine has the keys")
    browser.key("KeyD", "d", True)
    browser.evaluate("tavrin_studio.run_frames(3)")
    expect("port 1 with D held on the picture", result(browser, "watch('b[2100H]')")["value"] & RIGHT,
           RIGHT)
    browser.key("KeyD", "d", False)


# The views that must be on screen, each at least this many pixels high.
VIEWS = {"editor": 100, "canvas": 200, "registers": 40, "disassembly": 40, "call-stack": 30,
         "stack": 30, "expression-form": 15, "break-form": 15, "watch-form": 15, "memory": 50,
         "keys-focus": 10, "status": 10}


def check_layout(arguments, browser):
    """At 1280 x 720 and 1366 x 768 every view is inside the window, the page unscrolled, and
    the editor keeps its width when a stop writes a long status line; on a 390 x 844 phone the
    studio is no wider than the screen and has touch keys that play."""
    editor_width = "document.getElementById('editor').getBoundingClientRect().width"
    for width, height in ((1366, 768), (1280, 720)):
        browser.viewport(width, height)
        assembled(browser, arguments.url, CALLS)
        boxes = browser.evaluate("JSON.stringify(Object.fromEntries(%s.map((id) => "
                                 "[id, document.getElementById(id).getBoundingClientRect()])))"
                                 % list(VIEWS))
        for name, box in json.loads(boxes).items():
            if box["bottom"] > height or box["right"] > width or box["height"] < VIEWS[name]:
                raise Check_Failed(f"at {width} x {height} the view {name} is at {box}")
        before = browser.evaluate(editor_width)
        result(browser, "break_at('inner')")
        result(browser, "continue_to_break(10)")
        browser.next_frames()
        after = browser.evaluate(editor_width)
        if after != before:
            raise Check_Failed(f"at {width} x {height} the editor went from {before} to {after} px "
                               "wide when the status line changed")
    browser.viewport(390, 844, ratio=3, touch=True)
    assembled(browser, arguments.url, KEYS)
    wide = browser.evaluate("document.documentElement.scrollWidth")
    if wide > 390:
        raise Check_Failed(f"on a 390 px phone the studio is {wide} px wide")
    browser.evaluate("document.getElementById('run').click()")
    key_box = ("JSON.stringify(document.querySelector('#touch-keys [data-key=D]')"
               ".getBoundingClientRect())")
    box = json.loads(browser.evaluate(key_box))
    if box["width"] < 40:
        raise Check_Failed(f"no touch key for D: {box}")
    # Scrolled into view until it stays there: the editor brings the assembled program's line
    # into view a moment later, which may take the page back up.
    place = None
    for _ in range(50):
        browser.evaluate("document.querySelector('#touch-keys [data-key=D]')"
                         ".scrollIntoView({ block: 'center' })")
        browser.next_frames()
        box = json.loads(browser.evaluate(key_box))
        if place == (box["left"], box["top"]) and 0 <= box["top"] and box["bottom"] <= 844:
            break
        place = (box["left"], box["top"])
    browser.touch({"thumb": (box["left"] + box["width"] / 2, box["top"] + box["height"] / 2)})
    for _ in range(30):  # a busy machine may take some frames to run the loop once
        browser.next_frames()
        held = result(browser, "watch('b[2100H]')")["value"] & RIGHT
        if held:
            break
    browser.touch({})
    expect("port 1 with the touch key D held", held, RIGHT)


def studio_files(site):
    with open(os.path.join(site, "service_worker.js")) as file:
        listed = re.search(r"const studio_files = \[(.*?)\];", file.read(), re.S).group(1)
    return re.findall(r'"([^"]+)"', listed)


def check_offline(arguments, browser):
    """Once visited, the studio starts again with its server gone and the network offline; the
    service worker keeps every file of the studio."""
    kept = studio_files(arguments.site)
    present = [name for name in os.listdir(arguments.site)
               if name.startswith(("studio", "tavrin-studio"))]
    missing = sorted(set(present) - set(kept))
    if missing:
        raise Check_Failed(f"the service worker does not keep {missing}")
    server = subprocess.Popen([os.path.join(os.path.dirname(__file__), "../../scripts/serve-web"),
                               "--port", "0", arguments.site], stdout=subprocess.PIPE,
                              text=True, start_new_session=True)
    try:
        url = server.stdout.readline().strip() + "studio.html"
        ready(browser, url)
        addresses = "[%s]" % ", ".join(f"new URL({name!r}, location.href).href" for name in kept)
        browser.wait_for(f"caches.open('tavrin-mirellon').then((c) => Promise.all({addresses}"
                         ".map((a) => c.match(a)))).then((all) => all.every(Boolean))",
                         what="the service worker to keep the studio's files")
    finally:
        os.killpg(server.pid, signal.SIGTERM)
        server.wait()
    browser.call("Network.enable")
    browser.call("Network.emulateNetworkConditions", offline=True, latency=0,
                 downloadThroughput=-1, uploadThroughput=-1)
    browser.navigate(url)
    browser.wait_for("document.body.dataset.state === 'ready'", timeout=60,
                     what="the studio to start offline")
    type_into_editor(browser, KEYS)
    if not result(browser, "assemble()")["ok"]:
        raise Check_Failed("offline, the studio does not assemble")


CHECKS = {
    "studio_steps_out_and_shows_calls_and_watches": check_step_out_calls_and_watches,
    "studio_runs_fast_to_a_far_break": check_run_fast,
    "studio_shows_faults_and_stops_on_them": check_faults,
    "studio_keys_reach_the_machine_only_from_the_picture": check_keys_only_from_the_picture,
    "studio_holds_every_view_on_screen": check_layout,
    "studio_starts_offline": check_offline,
}


def main():
    return check_main(CHECKS, "web/studio.html", ("--site",))


if __name__ == "__main__":
    sys.exit(main())
