"""The browser checks: the page in headless Chromium, against drovask-run where pictures are
compared. One check per run, so that each counts as a test of its own.

Usage: checks.py CHECK (--server ADDRESS_FILE | --url URL --faulty-url URL)
                 --drovask-run PATH --rom PATH --other-rom PATH --site DIR [--work DIR]
ADDRESS_FILE holds the address of a server of the build folder (tests/web/server.sh); --rom is
the built-in program's image, --other-rom another (the test card) for the page to be given, and
--site the page's folder (build/web), which one check serves by itself to take it away.
"""

import argparse
import functools
import gzip
import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, run_check  # noqa: E402

TITLE = "Tavrin Mirellon Error"
UNIMPLEMENTED = 'Could not execute instruction "08" because it has not been implemented.'

# Key events as drovask-run reads them: at FRAME (frames run before it) press or release KEY.
# The demo takes coins once its attract mode is up (about a second after power-on).
COIN_AND_START = [(70, "press", "C"), (74, "release", "C"), (85, "press", "Q"),
                  (89, "release", "Q")]
PLAYED = COIN_AND_START + [(95, "press", "D"), (110, "release", "D"), (120, "press", "S"),
                           (124, "release", "S"), (150, "press", "A"), (190, "release", "A")]
# Two thumbs on the touch controls: at FRAME the FINGER goes to KEY's control, sliding there if
# it is down, or lifts (None). While the left thumb holds right, the other presses fire, lifts,
# holds left a moment and lifts (the paddle goes on to the right only if that lift counts); then
# the left thumb slides from right onto left and back without lifting.
THUMBS = [(70, "left", "C"), (74, "left", None), (85, "left", "Q"), (89, "left", None),
          (95, "left", "D"), (100, "right", "S"), (104, "right", None), (110, "right", "A"),
          (120, "right", None), (130, "left", "A"), (160, "left", "D"), (190, "left", None)]
BUDGET = 150 * 1024  # the page's files, gzip-compressed each


def first_visit_each_load(browser):
    """Every load from now on is a first visit: no game kept from the last one resumes, paused
    under its notice."""
    browser.call("Page.addScriptToEvaluateOnNewDocument", source="localStorage.clear()")


def running(browser, url):
    browser.navigate(url)
    browser.wait_for("document.body.dataset.state === 'running' && "
                     "document.getElementById('canvas').style.visibility === 'visible'",
                     what="the first picture")


def runner_picture(arguments, events, frames, name, rom=None):
    """drovask-run's picture of `rom` (the built-in program's by default) after `frames` frames
    with `events`, as 224 x 256 bytes."""
    os.makedirs(arguments.work, exist_ok=True)
    script = os.path.join(arguments.work, f"{name}.keys")
    png = os.path.join(arguments.work, f"{name}.png")
    with open(script, "w") as file:
        file.writelines(f"at {frame} {action} {key}\n" for frame, action, key in events)
    subprocess.run([arguments.drovask_run, rom or arguments.rom, "--frames", str(frames), "--input",
                    script, "--screenshot", png], check=True, stdout=subprocess.DEVNULL)
    return subprocess.run(["convert", png, "-depth", "8", "gray:-"], check=True,
                          stdout=subprocess.PIPE).stdout


def key_events(thumbs):
    """The key events (as in PLAYED) that fingers on the touch controls (as in THUMBS) make."""
    held, events = {}, []
    for frame, finger, key in thumbs:
        before = set(held.values())
        if key:
            held[finger] = key
        else:
            del held[finger]
        after = set(held.values())
        events += [(frame, "release", k) for k in sorted(before - after)]
        events += [(frame, "press", k) for k in sorted(after - before)]
    return events


def page_picture(browser, steps, frames, act):
    """The page's picture after `frames` frames from power-on, each step (FRAME, ...) done by
    `act(...)` once FRAME frames have run."""
    browser.evaluate("tavrin_test.reset()")
    done = 0
    for frame, *step in steps:
        browser.evaluate(f"tavrin_test.run_frames({frame - done})")
        done = frame
        act(*step)
    browser.evaluate(f"tavrin_test.run_frames({frames - done})")
    return browser.picture()


def by_key(press):
    """A key event's step (as in PLAYED) done by `press(key, down)`."""
    return lambda action, key: press(key, action == "press")


def differing_pixels(a, b):
    return sum(1 for x, y in zip(a, b) if x != y)


def expect_same_picture(page, runner, what):
    if len(page) != 224 * 256 or set(page) - {0, 255}:
        raise Check_Failed(f"{what}: picture() gave {len(page)} bytes with values "
                           f"{sorted(set(page))[:8]}, not 57,344 bytes of 0 or 255")
    if page != runner:
        raise Check_Failed(f"{what}: {differing_pixels(page, runner)} pixels differ from "
                           "drovask-run's picture")


def check_page_loads(arguments, browser):
    """The page starts with its title and says that the machine has no sound; nothing is
    logged as an error.
    Catches: a script error at start, a file missing from the build."""
    running(browser, arguments.url)
    time.sleep(1.0)  # a second of frames
    if browser.evaluate("document.title") != "Tavrin Mirellon":
        raise Check_Failed("the page's title is not \"Tavrin Mirellon\"")
    if "no sound" not in browser.evaluate("document.getElementById('side').textContent"):
        raise Check_Failed("the page does not say that the machine has no sound")
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


def shown_differences(browser, expected=None):
    """Machine pixels whose device pixels on the screen are not all the picture's value, with the
    scale the page chose: the canvas as a screenshot of the viewport in device pixels, against
    `expected` (224 x 256 bytes), or else tavrin_test.picture(). The machine stands still
    meanwhile."""
    browser.evaluate("tavrin_test.pause()")
    picture = expected or browser.picture()
    browser.next_frames()  # the canvas has drawn that picture
    ratio, x, y, place, scale, width = browser.evaluate(
        "(() => { const canvas = document.getElementById('canvas'); "
        "const box = canvas.getBoundingClientRect(); return [devicePixelRatio, box.x, box.y, "
        "canvas.picture_viewport, +document.body.dataset.scale, innerWidth]; })()")
    png = browser.screenshot()
    shown = subprocess.run(["convert", "png:-", "-colorspace", "gray", "-depth", "8", "gray:-"],
                           input=png, check=True, stdout=subprocess.PIPE).stdout
    line = round(width * ratio)
    left, top = round(x * ratio) + place[0], round(y * ratio) + place[1]
    wrong = set()
    for row in range(256 * scale):
        expected = bytes(v for v in picture[row // scale * 224:(row // scale + 1) * 224]
                         for _ in range(scale))
        start = (top + row) * line + left
        got = shown[start:start + len(expected)]
        if got != expected:
            wrong.update((column // scale, row // scale) for column in range(len(expected))
                         if column >= len(got) or got[column] != expected[column])
    return scale, len(wrong)


def check_first_picture(arguments, browser):
    """The first picture on the canvas is the machine's, pixel for pixel.
    Catches: a picture upside down, mirrored or offset on the canvas."""
    running(browser, arguments.url)
    browser.wait_for("atob(tavrin_test.picture()).includes(String.fromCharCode(255))",
                     what="the program to draw")
    scale, wrong = shown_differences(browser)
    if wrong > 4:  # the drawn cursor covers at most 2 x 2 machine pixels
        raise Check_Failed(f"the canvas at {scale}x differs from the picture in {wrong} pixels")


def check_interfaces_work_once_defined(arguments, browser):
    """tavrin_test and tavrin_studio work as soon as they exist: a script that waits for the
    object calls them at once.
    Catches: an interface object set before the module can answer its calls."""
    browser.call("Page.addScriptToEvaluateOnNewDocument", source="""
        for (const [name, trial] of [
                ["tavrin_test", (o) => { o.reset(); o.run_frames(1); o.picture(); }],
                ["tavrin_studio", (o) => { o.set_source("        ORG 0\\nloop:   JMP loop\\n");
                                           if (!o.assemble().ok) throw new Error("no ROM");
                                           o.reset(); o.run_frames(1); }]]) {
            let value;
            Object.defineProperty(globalThis, name, { configurable: true, get: () => value,
                set: (object) => {
                    value = object;
                    try { trial(object); globalThis.trial = "works"; }
                    catch (error) { globalThis.trial = String(error); }
                } });
        }""")
    for page in ("", "studio.html"):
        browser.navigate(arguments.url + page)
        browser.wait_for("globalThis.trial", what=f"{page or 'the page'}'s interface")
        if browser.evaluate("globalThis.trial") != "works":
            raise Check_Failed(f"{page or 'the page'}: called at once, the interface throws "
                               f"{browser.evaluate('globalThis.trial')}")


# Viewports (CSS pixels, device pixels per CSS pixel, touch) and the largest whole scale that
# fits each beside the side panel (14rem at least) or the touch controls: odd sizes centre the
# picture on half a pixel; at 1.25, 1.5 and 3 a machine pixel is a fraction of a CSS pixel; at
# 1366 x 768 and 2560 x 1440 the picture takes the window's whole height; from 800 x 600 down
# to 400 x 300 a rounded scale would not fit (each is a whole number of device pixels wide, as
# real screens are). 0: too small even for one, the picture scaled down to the whole window
# (the panel below it).
VIEWPORTS = [(1920, 1080, 1, False, 4), (1366, 768, 1, False, 3), (1365, 767, 1, False, 2),
             (800, 600, 1, False, 2), (640, 480, 1, False, 1), (560, 400, 1, False, 1),
             (480, 360, 1, False, 1), (400, 300, 1, False, 1), (300, 240, 1, False, 0),
             (320, 480, 1, False, 1), (683, 650, 1, False, 2), (960, 970, 1, False, 3),
             (1280, 801, 1.5, False, 4), (1001, 733, 2, False, 5), (2560, 1440, 1.25, False, 7),
             (390, 844, 3, True, 5), (844, 390, 3, True, 4)]


def expect_fitted(browser, width, height, ratio, largest, how):
    """The picture, loaded or resized (`how`) at this size, takes the largest whole number of
    device pixels per machine pixel that fits (`largest`), shows exactly the machine's picture
    and fits the viewport without a sideways scroll; at 0 it is scaled down to the whole
    window, whole, and the page says so."""
    size = f"{width} x {height} at {ratio} ({how})"
    browser.next_frames(3)  # a resize is fitted in the next animation frame
    browser.wait_for("tavrin_test.run_frames(10) && "
                     "atob(tavrin_test.picture()).includes(String.fromCharCode(255))",
                     what="the program to draw")
    box = browser.evaluate("(() => { const box = document.getElementById('canvas')"
                           ".getBoundingClientRect(); const stage = document.getElementById("
                           "'stage').getBoundingClientRect(); return [box.left, box.top, "
                           "box.right, box.bottom, document.documentElement.scrollWidth, "
                           "stage.left, stage.top, stage.right, stage.bottom]; })()")
    inside = [min(box[5], 0), min(box[6], 0), max(box[7], width), max(box[8], height)]
    if box[0] < inside[0] or box[1] < inside[1] or box[2] > min(width, box[7]) + 0.5 or \
            box[3] > min(height, box[8]) + 0.5 or box[4] > width:
        raise Check_Failed(f"{size}: the picture lies at {box[:4]} in a stage at {box[5:]}, "
                           f"the page is {box[4]} wide")
    if largest == 0:
        expected = min(height, width * 256 / 224)
        if abs(box[3] - box[1] - expected) > 1 or browser.evaluate(
                "document.body.dataset.scale") != "0" or "sharpness" not in browser.evaluate(
                "document.getElementById('hint').textContent"):
            raise Check_Failed(f"{size}: the picture is {box[3] - box[1]} tall, not the "
                               f"window's {expected}, or the page does not say it is scaled "
                               "down")
        return
    scale, wrong = shown_differences(browser)
    print(f"{size}: {scale} device pixels per machine pixel")
    if scale != largest or wrong > 4:
        raise Check_Failed(f"{size}: {scale}x ({largest}x fits), {wrong} machine pixels shown "
                           "wrong")


def check_fit(arguments, browser):
    """At each size, the page loaded there and a page resized to it from the size before.
    Catches: a scale rounded rather than floored, a picture off the device pixels, one that
    spills out of its stage or shows nothing in a small window."""
    first_visit_each_load(browser)
    before = None
    for width, height, ratio, touch, largest in VIEWPORTS:
        if before == touch:  # the touch layout is chosen when the page loads
            browser.viewport(width, height, ratio, touch)
            browser.evaluate("tavrin_test.resume()")
            expect_fitted(browser, width, height, ratio, largest, "resized")
        browser.viewport(width, height, ratio, touch)
        running(browser, arguments.url)
        expect_fitted(browser, width, height, ratio, largest, "loaded")
        before = touch


def check_coin_and_start(arguments, browser):
    """The keyboard's C and Q, pressed as a person would, reach the machine as in drovask-run.
    Catches: keys that do not reach the machine, or reach another of its bits."""
    running(browser, arguments.url)
    keyboard = lambda key, down: browser.key(f"Key{key}", key.lower(), down)  # noqa: E731
    frames = 100
    played = page_picture(browser, COIN_AND_START, frames, by_key(keyboard))
    untouched = page_picture(browser, [], frames, None)
    if played == untouched:
        raise Check_Failed("the coin and start keys did not change the picture")
    expect_same_picture(played, runner_picture(arguments, COIN_AND_START, frames, "coin"),
                        "after a coin and a one-player start")


def check_same_as_runner(arguments, browser):
    """The page's machine, given the same keys, draws drovask-run's picture.
    Catches: a machine that drifts from drovask-run's (another schedule, another interrupt
    order)."""
    running(browser, arguments.url)
    test_key = lambda key, down: browser.evaluate(  # noqa: E731
        f"tavrin_test.key('{key}', {'true' if down else 'false'})")
    frames = 240
    expect_same_picture(page_picture(browser, PLAYED, frames, by_key(test_key)),
                        runner_picture(arguments, PLAYED, frames, "played"),
                        f"after {frames} frames of play")


def check_machine_time(arguments, browser):
    """With the main thread busy 20 ms in every 50, each animation frame runs the machine for the
    time between the frames' own timestamps, to a period (1/120 s).
    Catches: frames paced by a fixed step or by the wall clock rather than by their timestamps."""
    running(browser, arguments.url)
    counts = browser.evaluate("""new Promise((done) => {
        setInterval(() => { const end = performance.now() + 20; while (performance.now() < end); },
                    50);
        const seen = [];
        const frame = (time) => {
            seen.push([time, tavrin_test.instructions()]);
            if (seen.length < 120) { requestAnimationFrame(frame); } else { done(seen); }
        };
        setTimeout(() => requestAnimationFrame(frame), 200);
    })""")
    wrong = []
    for (time_a, count_a), (time_b, count_b) in zip(counts, counts[1:]):
        periods, due = (count_b - count_a) / 1938, (time_b - time_a) * 120 / 1000
        if abs(periods - due) >= 1 and due < 30:  # a longer gap is cut to a quarter second
            wrong.append(f"{periods:g} for {due:.2f}")
    print(f"{len(wrong)} of {len(counts) - 1} frames off their time {wrong[:10]}")
    if len(wrong) > len(counts) // 20:  # a loaded machine's rare late frame
        raise Check_Failed(f"{len(wrong)} animation frames ran a number of periods off the "
                           f"frames' timestamps: {wrong[:10]}")


def check_error_dialog(arguments, browser):
    """A program error shows the program's dialog, holding the focus; Enter or Escape dismisses
    it and the page shows the end.
    Catches: an error that ends the page without a word, a dialog without the focus."""
    for dismiss in ("Enter", "Escape"):
        browser.navigate(arguments.faulty_url)
        browser.wait_for("document.getElementById('error').open", what="the error dialog")
        title = browser.evaluate("document.getElementById('error-title').textContent")
        message = browser.evaluate("document.getElementById('error-message').textContent")
        if (title, message) != (TITLE, UNIMPLEMENTED):
            raise Check_Failed(f"the dialog says {title!r}: {message!r}")
        if browser.evaluate("document.activeElement.closest('dialog') === null"):
            raise Check_Failed("the dialog does not hold the focus")
        browser.key(dismiss, dismiss, True)
        browser.key(dismiss, dismiss, False)
        browser.wait_for("document.body.dataset.state === 'ended' && "
                         "!document.getElementById('ended').hidden",
                         what=f"the page to show the end once {dismiss} dismisses the dialog")


def check_escape(arguments, browser):
    """Escape pauses and asks; any other key goes on; a second Escape, or the button, ends the
    emulation; "Start again" starts the machine again in the same page.
    Catches: one Escape ending the game, a game that cannot start again in the page."""
    running(browser, arguments.url)
    browser.evaluate("globalThis.same_page = true")
    escape = lambda: [browser.key("Escape", "Escape", down) for down in (True, False)]  # noqa
    asking = "!document.getElementById('asking').hidden && document.body.dataset.state === " \
             "'running'"
    ended = "document.body.dataset.state === 'ended' && !document.getElementById('ended').hidden"
    for end in ("Escape", "button"):
        escape()
        browser.wait_for(asking, what="the page to pause and ask after one Escape")
        browser.key("KeyX", "x", True)
        browser.key("KeyX", "x", False)
        browser.wait_for("document.getElementById('asking').hidden && "
                         "document.getElementById('paused').hidden", what="a key to go on")
        escape()
        browser.wait_for(asking, what="the question again")
        if end == "Escape":
            escape()
        else:
            browser.evaluate("document.getElementById('end').click()")
        browser.wait_for(ended, what=f"the end of the emulation by the {end}")
        if browser.evaluate("tavrin_test.run_frames(1)"):
            raise Check_Failed(f"the machine still runs after the {end} ended it")
        browser.evaluate("document.getElementById('again').click()")
        browser.wait_for("document.body.dataset.state === 'running'", what="the start again")
        if not browser.evaluate("globalThis.same_page === true && tavrin_test.run_frames(1)"):
            raise Check_Failed("\"Start again\" did not run the machine again in the same page")


def control_places(browser):
    """Each touch control's place: {data-key or id: [centre x, centre y, left, top, right,
    bottom]} in CSS pixels of the viewport."""
    return browser.evaluate(
        "Object.fromEntries([...document.querySelectorAll('.pad button')].map(control => { "
        "const box = control.getBoundingClientRect(); return [control.dataset.key || control.id, "
        "[box.x + box.width / 2, box.y + box.height / 2, box.left, box.top, box.right, "
        "box.bottom]]; }))")


def settled_places(browser, what):
    """The touch controls' places once the page's layout has stopped moving (the picture's fit
    is applied in an animation frame after the viewport changes): the same over two frames."""
    places = control_places(browser)
    for _ in range(20):
        browser.next_frames(2)
        again = control_places(browser)
        if again == places:
            return places
        places = again
    raise Check_Failed(f"{what}: the touch controls still move after 40 frames")


def check_keyboard_on_the_page(arguments, browser):
    """Shift+Tab from the Pause button brings the focus back to the picture, which shows it with
    a ring; Space on a focused button presses it rather than firing.
    Catches: Space on a focused button also taken as a key (the button pressed twice),
    a picture that Tab cannot reach or that shows no ring."""
    running(browser, arguments.url)
    browser.evaluate("document.getElementById('pause').focus()")
    browser.key("Tab", "Tab", True, shift=True)
    browser.key("Tab", "Tab", False, shift=True)
    ring = browser.evaluate("(() => { const canvas = document.getElementById('canvas'); "
                            "const style = getComputedStyle(canvas); return [document."
                            "activeElement === canvas, style.outlineStyle, style.outlineWidth]; "
                            "})()")
    if not ring[0] or ring[1] == "none" or ring[2] == "0px":
        raise Check_Failed(f"Tab to the picture: focused {ring[0]}, its outline {ring[1:]}")
    browser.evaluate("document.getElementById('pause').focus()")
    for pressed, paused in ((1, True), (2, False)):
        browser.key("Space", " ", True)
        browser.key("Space", " ", False)
        if browser.evaluate("document.getElementById('paused').hidden") == paused:
            raise Check_Failed(f"Space pressed {pressed}x on the focused Pause button did not "
                               f"{'pause' if paused else 'go on'}")


# The touch controls as the player reads them: what each shows, and the machine key's label
# (tavrin_machine.keys()) that it stands for.
SEEN = {"◀": "left", "▶": "right", "●": "fire", "COIN": "coin", "1P": "one-player start",
        "2P": "two-player start"}


def check_touch(arguments, browser):
    """On a phone, the touch controls carry the machine's keys and, touched with two thumbs
    that slide from one control to another and lift one at a time, play as the keys do. Each
    control is found by what it shows and where, as a player finds it.
    Catches: two controls' keys swapped (◀ moving right), a key without a control."""
    browser.viewport(390, 844, 3, touch=True)
    running(browser, arguments.url)
    shown = browser.evaluate(
        "[...document.querySelectorAll('.pad button')].filter(control => "
        "control.getBoundingClientRect().width > 0).map(control => { const box = "
        "control.getBoundingClientRect(); return [control.textContent.trim(), "
        "box.x + box.width / 2, box.y + box.height / 2]; })")
    key_of = {k["label"]: k["key"] for k in browser.evaluate("tavrin_machine.keys()")}
    places = {key_of[SEEN[text]]: (x, y) for text, x, y in shown if text in SEEN}
    if sorted(places) != sorted(key_of.values()) or places["A"][0] >= places["D"][0]:
        raise Check_Failed(f"the touch controls show {[text for text, *_ in shown]}: not one "
                           f"for each of the machine's keys {sorted(key_of)}, left of right")
    fingers = {}

    def touch(finger, key):
        if key:
            fingers[finger] = places[key]
        else:
            del fingers[finger]
        browser.touch(fingers)

    frames = 240
    expect_same_picture(page_picture(browser, THUMBS, frames, touch),
                        runner_picture(arguments, key_events(THUMBS), frames, "thumbs"),
                        "after a game played on the touch controls")


# Phones (CSS pixels, the safe area's insets: top, right, bottom, left) upright and on the side.
PHONES = [(390, 844, (47, 0, 34, 0)), (844, 390, (0, 47, 21, 47))]


def check_phone_screen(arguments, browser):
    """On a phone with a notch and a home bar, upright and on its side, the picture and every
    touch control (Pause among them) lie in the safe area of one screen; a swipe that starts on
    the picture or between the controls scrolls nothing while a game runs; Pause pauses, and in
    full screen is still there.
    Catches: a control under the notch or the home bar, a swipe that scrolls the page in
    play, Pause out of reach in full screen."""
    first_visit_each_load(browser)
    for width, height, insets in PHONES:
        size = f"{width} x {height}"
        browser.viewport(width, height, 3, touch=True)
        browser.call("Emulation.setSafeAreaInsetsOverride", insets=dict(
            zip(("top", "right", "bottom", "left"), insets)))
        running(browser, arguments.url)
        top, right, bottom, left = insets[0], width - insets[1], height - insets[2], insets[3]
        places = settled_places(browser, size)
        places["picture"] = browser.evaluate(
            "(() => { const box = document.getElementById('canvas').getBoundingClientRect(); "
            "return [box.x + box.width / 2, box.y + box.height / 2, box.left, box.top, "
            "box.right, box.bottom]; })()")
        outside = {name: [round(v) for v in place[2:]] for name, place in places.items()
                   if place[2] < left or place[3] < top or place[4] > right or place[5] > bottom}
        if outside or "touch-pause" not in places:
            raise Check_Failed(f"{size}: outside the safe area {[left, top, right, bottom]}: "
                               f"{outside}; controls {sorted(places)}")
        gap = browser.evaluate(
            "(() => { const pad = document.getElementById('pad-right').getBoundingClientRect(); "
            "return [pad.left + 2, pad.top + 2]; })()")
        for start in (places["picture"][:2], gap):
            browser.touch({"swipe": tuple(start)})
            for step in range(1, 11):  # up to the screen's top
                browser.touch({"swipe": (start[0], start[1] - (start[1] - 5) * step / 10)})
            browser.touch({})
            scrolled = browser.evaluate("[scrollX, scrollY, visualViewport.scale]")
            if scrolled != [0, 0, 1]:
                raise Check_Failed(f"{size}: a swipe from {start} scrolled the page to "
                                   f"{scrolled[:2]} at a zoom of {scrolled[2]}")
        # A tap while the swipe's fling still runs only stops the fling (no click): let it end,
        # and tap again, as a player would, if the tap went to a fling still running on a busy
        # machine.
        browser.next_frames(60)
        for tap in range(3):
            browser.touch({"tap": tuple(places["touch-pause"][:2])})
            browser.touch({})
            try:
                browser.wait_for("!document.getElementById('paused').hidden", timeout=5,
                                 what=f"{size}: the touch Pause to pause")
                break
            except Check_Failed:
                if tap == 2:
                    raise
        browser.evaluate("document.getElementById('app').requestFullscreen()", gesture=True)
        browser.wait_for("document.fullscreenElement !== null", what=f"{size}: full screen")
        if not browser.evaluate(
                "(() => { const box = document.getElementById('touch-pause')"
                ".getBoundingClientRect(); return document.elementFromPoint(box.x + box.width / 2,"
                " box.y + box.height / 2) === document.getElementById('touch-pause'); })()"):
            raise Check_Failed(f"{size}: Pause cannot be touched in full screen")
        browser.evaluate("document.exitFullscreen()")


# The standard mapping's controls for the machine's keys: a button's index, or the left stick.
GAMEPAD = {"C": "buttons[8]", "Q": "buttons[9]", "S": "buttons[0]", "A": "buttons[14]",
           "D": "axes[0]"}


def check_gamepad(arguments, browser):
    """A gamepad (navigator.getGamepads answered by the check) plays as the keys do; one without
    the standard mapping, which the page cannot read, is named on the page.
    Catches: a button mapped to another key (Back and Start swapped), an unreadable gamepad
    not named."""
    running(browser, arguments.url)
    browser.evaluate(
        "(() => { const pad = { id: 'check', index: 0, connected: true, mapping: 'standard', "
        "axes: [0, 0, 0, 0], buttons: Array.from({ length: 17 }, () => "
        "({ pressed: false, value: 0 })) }; globalThis.check_pad = pad; "
        "navigator.getGamepads = () => [pad]; })()")

    def press(key, down):
        control = GAMEPAD[key]
        if control.startswith("axes"):
            value = "1" if down else "0"
        else:
            value = f"{{ pressed: {'true' if down else 'false'}, value: {1 if down else 0} }}"
        browser.evaluate(f"check_pad.{control} = {value}")
        browser.next_frames()  # the page reads the gamepads once a frame

    frames = 240
    expect_same_picture(page_picture(browser, PLAYED, frames, by_key(press)),
                        runner_picture(arguments, PLAYED, frames, "played"),
                        "after a game played on a gamepad")
    browser.evaluate("check_pad.mapping = ''")
    browser.wait_for("document.getElementById('hint').textContent.includes('“check”')",
                     what="the page to name the gamepad that it cannot read")


def check_blur(arguments, browser):
    """A key held while the page loses the focus is let go, and the page pauses until a key;
    a page hidden without losing the focus pauses too, and stands still until a key.
    Catches: a blur that pauses but leaves D held (the ship goes on moving in the game)."""
    running(browser, arguments.url)
    keyboard = lambda key, down: browser.key(f"Key{key}", key.lower(), down)  # noqa: E731
    held, blurred, frames = 95, 105, 150
    page_picture(browser, COIN_AND_START, held, by_key(keyboard))  # a game, not attract mode
    keyboard("D", True)
    browser.evaluate(f"tavrin_test.run_frames({blurred - held})")
    browser.evaluate("window.dispatchEvent(new FocusEvent('blur'))")  # the key-up goes elsewhere
    if browser.evaluate("document.getElementById('paused').hidden"):
        raise Check_Failed("the page did not pause when it lost the focus")
    browser.evaluate(f"tavrin_test.run_frames({frames - blurred})")
    released = runner_picture(arguments, COIN_AND_START + [(held, "press", "D"),
                                                           (blurred, "release", "D")],
                              frames, "blur")
    if released == runner_picture(arguments, COIN_AND_START + [(held, "press", "D")], frames,
                                  "blur-held"):
        raise Check_Failed(f"D held from frame {held} to {frames} moves nothing in the game: "
                           "this check could not see a key left held")
    expect_same_picture(browser.picture(), released, "after D held across a loss of the focus")
    browser.key("KeyX", "x", True)
    browser.key("KeyX", "x", False)
    browser.wait_for("document.getElementById('paused').hidden", what="a key to end the pause")
    browser.evaluate("tavrin_test.resume()")
    hide = ("(hidden) => { Object.defineProperty(document, 'hidden', { value: hidden, "
            "configurable: true }); document.dispatchEvent(new Event('visibilitychange')); }")
    browser.evaluate(f"({hide})(true)")
    hidden = browser.picture()
    time.sleep(0.5)
    browser.evaluate(f"({hide})(false)")
    browser.next_frames()
    if browser.evaluate("document.getElementById('paused').hidden") or \
            browser.picture() != hidden:
        raise Check_Failed("the machine went on while the page was hidden, or on its return")


def choose_files(browser, paths):
    """The player chooses `paths` with "Play a ROM image…"."""
    browser.choose_files("#rom-file", paths)


def check_own_rom(arguments, browser):
    """A ROM image in two files, chosen in the page, plays as drovask-run plays it, also after
    a reload; files of the wrong size are refused in the page while the game goes on; the
    built-in game comes back.
    Catches: the files joined in the wrong order (part10 before part9), a refused file that
    stops the game, a ROM not kept across a reload."""
    os.makedirs(arguments.work, exist_ok=True)
    with open(arguments.other_rom, "rb") as file:
        image = file.read()
    # Joined in their names' order, numbers as numbers: part9 before part10.
    halves = [os.path.join(arguments.work, name) for name in ("card.part9", "card.part10")]
    for path, part in zip(halves, (image[:4096], image[4096:])):
        with open(path, "wb") as file:
            file.write(part)
    one_byte = os.path.join(arguments.work, "one.bin")
    with open(one_byte, "wb") as file:
        file.write(image[:1])
    running(browser, arguments.url)
    frames = 60
    other = runner_picture(arguments, [], frames, "other", arguments.other_rom)
    built_in = runner_picture(arguments, [], frames, "built-in")

    choose = lambda paths: choose_files(browser, paths)  # noqa: E731

    def expect(picture, what):
        expect_same_picture(page_picture(browser, [], frames, None), picture, what)

    choose(list(reversed(halves)))
    browser.wait_for("document.getElementById('rom-status').textContent === "
                     "'Playing card.part9 + card.part10.'", what="the chosen ROM")
    expect(other, "the chosen ROM")
    for path, said_of_it in ((halves[0], "card.part9 has 4,096 bytes;"),
                             (one_byte, "one.bin has 1 byte;")):
        browser.evaluate("document.getElementById('rom-status').className = ''")
        choose([path])
        browser.wait_for("document.getElementById('rom-status').classList.contains('bad')",
                         what=f"the refusal of {path}")
        said = browser.evaluate("document.getElementById('rom-status').textContent")
        if said_of_it not in said or "8,192" not in said:
            raise Check_Failed(f"{os.path.basename(path)} is refused with {said!r}")
    expect(other, "the chosen ROM after refused ones")
    running(browser, arguments.url)
    expect(other, "the chosen ROM after a reload")
    browser.evaluate("document.getElementById('built-in').click()")
    expect(built_in, "the built-in game again")


def check_rom_error(arguments, browser):
    """A chosen ROM that meets an error: the page names the file and offers the built-in game
    and another ROM, each of which starts; on the next visit the kept ROM waits for the player
    to ask for it.
    Catches: a failing ROM played again unasked on the next visit, an end with no way on."""
    os.makedirs(arguments.work, exist_ok=True)
    faulty = os.path.join(arguments.work, "faulty.bin")
    with urllib.request.urlopen(arguments.faulty_url + "../faulty.bin") as answer, \
            open(faulty, "wb") as file:
        file.write(answer.read())
    status = "document.getElementById('rom-status').textContent"
    shown = lambda id: f"!document.getElementById('{id}').hidden"  # noqa: E731

    def fail_and_end():
        browser.wait_for("document.getElementById('error').open", what="the error dialog")
        browser.key("Enter", "Enter", True)
        browser.key("Enter", "Enter", False)
        browser.wait_for(f"document.body.dataset.state === 'ended' && {status}"
                         ".includes('faulty.bin') && " + shown("ended-built-in") + " && "
                         + shown("ended-choose"), what="the end, naming faulty.bin, with a way "
                         "to the built-in game and to another ROM")

    def starts(what):
        browser.wait_for("document.body.dataset.state === 'running' && "
                         "document.getElementById('ended').hidden && tavrin_test.run_frames(1)",
                         what=f"{what} to start")

    running(browser, arguments.url)
    choose_files(browser, [faulty])
    fail_and_end()
    running(browser, arguments.url)  # the next visit plays the built-in game and asks
    time.sleep(0.5)
    said = browser.evaluate(status)
    if browser.evaluate("document.getElementById('error').open") or "faulty.bin" not in said \
            or browser.evaluate("document.getElementById('kept-again').hidden"):
        raise Check_Failed(f"the next visit says {said!r} and does not offer the kept ROM")
    browser.evaluate("document.getElementById('kept-again').click()")
    fail_and_end()
    choose_files(browser, [arguments.other_rom])
    starts("another ROM")
    choose_files(browser, [faulty])
    fail_and_end()
    browser.evaluate("document.getElementById('ended-built-in').click()")
    starts("the built-in game")
    said = browser.evaluate(status)
    if said != "Playing the built-in game.":
        raise Check_Failed(f"the built-in game plays, and the page says {said!r}")


def kept_files(site):
    """The files that the service worker keeps (its list `files`), "./" included."""
    with open(os.path.join(site, "service_worker.js")) as file:
        listed = re.search(r"const files = \[(.*?)\];", file.read(), re.S).group(1)
    return re.findall(r'"([^"]+)"', listed)


def check_offline(arguments, browser):
    """Once visited, the page starts again with its server gone and the network offline; no
    request leaves its origin; its files stay within the budget.
    Catches: a file that the service worker does not keep (no start offline), a request to
    another origin, files over the budget."""
    kept = kept_files(arguments.site)
    sizes = {name: len(gzip.compress(open(os.path.join(arguments.site, name), "rb").read(), 9))
             for name in kept if name != "./"}
    print(f"the page's files: {sum(sizes.values())} bytes gzip-compressed")
    if sum(sizes.values()) > BUDGET:
        raise Check_Failed(f"the page's files come to {sum(sizes.values())} bytes "
                           f"gzip-compressed, over {BUDGET}: {sizes}")
    server = subprocess.Popen([os.path.join(os.path.dirname(__file__), "../../scripts/serve-web"),
                               "--port", "0", arguments.site], stdout=subprocess.PIPE,
                              text=True, start_new_session=True)
    try:
        url = server.stdout.readline().strip()
        browser.call("Network.enable")
        running(browser, url)
        deadline = time.monotonic() + 20
        while browser.evaluate("caches.open('tavrin-mirellon').then(c => c.keys())"
                               ".then(k => k.length)") < len(kept) or \
                not browser.evaluate("navigator.serviceWorker.controller !== null"):
            if time.monotonic() > deadline:
                raise Check_Failed("the service worker did not keep the page's files")
            time.sleep(0.1)
        requested = {event["params"]["request"]["url"] for event in browser.events
                     if event.get("method") == "Network.requestWillBeSent"}
        foreign = [u for u in requested if not u.startswith(url) and not u.startswith("data:")]
        if foreign:
            raise Check_Failed(f"requests leave the page's origin: {foreign}")
    finally:
        os.killpg(server.pid, signal.SIGTERM)
        server.wait()
    browser.call("Network.emulateNetworkConditions", offline=True, latency=0,
                 downloadThroughput=-1, uploadThroughput=-1)
    browser.call("Page.reload")
    browser.wait_for("document.body.dataset.state === 'running' && "
                     "document.getElementById('canvas').style.visibility === 'visible'",
                     what="the page to start offline")


class Changing_Site:
    """A copy of the site, served on 127.0.0.1 as most static hosts serve files (Last-Modified,
    no Cache-Control), that can be changed between loads, and whose answers can be held back:
    `held(names, delay)` names the files answered only after `delay` seconds (None: never)."""

    def __init__(self, site, work):
        self.folder = os.path.join(work, "site")
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.copytree(site, self.folder)
        # Built a day ago, an hour apart: a browser then keeps each for hours without asking.
        self.built = time.time() - 86400
        for name in os.listdir(self.folder):
            os.utime(os.path.join(self.folder, name), (self.built, self.built))
        self.hold, self.delay, self.release = set(), None, threading.Event()
        changing = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                              ".wasm": "application/wasm", ".js": "text/javascript"}

            def do_GET(self):
                name = os.path.basename(self.path.split("?")[0]) or "index.html"
                if name in changing.hold or "*" in changing.hold:
                    if changing.delay is None:  # until the next change of `hold`, then nothing
                        changing.release.wait()
                        self.close_connection = True
                        return
                    time.sleep(changing.delay)
                super().do_GET()

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(Handler, directory=self.folder))
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_port}/"

    def build(self, name):
        """Marks the page's script and the module's script as the build `name`."""
        for file, variable in (("page.js", "page_build"), ("tavrin-mirellon.js", "module_build")):
            with open(os.path.join(self.folder, file), "a") as script:
                script.write(f"\nglobalThis.{variable} = {json.dumps(name)};\n")
            self.built += 3600
            os.utime(os.path.join(self.folder, file), (self.built, self.built))

    def held(self, names, delay):
        self.release.set()
        self.release = threading.Event()
        self.hold, self.delay = names, delay

    def close(self):
        self.release.set()
        self.server.shutdown()


def check_update(arguments, browser):
    """A changed site reaches the player on the next load; with a server that never answers the
    page starts from its copy within seconds; the scripts and the WebAssembly come from one build
    even when the network delivers part of it late. The update comes with the player's reload.
    Catches: a service worker that keeps the files but answers from its copy ever after (or
    one load late), one that mixes the builds."""
    site = Changing_Site(arguments.site, arguments.work)
    builds = "[globalThis.page_build, globalThis.module_build]"

    def load(what, expected, within=20, reload=False):
        browser.evaluate("globalThis.left = true")  # the page until the next has come
        started = time.monotonic()
        if reload:
            browser.call("Page.reload")
        else:
            browser.navigate(site.url)
        browser.wait_for("!globalThis.left && document.body.dataset.state === 'running'",
                         timeout=within, what=f"the page {what}")
        got = browser.evaluate(builds)
        print(f"{what}: started in {time.monotonic() - started:.1f} s with builds {got}")
        if got != expected:
            raise Check_Failed(f"{what}: the page ran builds {got}, not {expected}")

    try:
        site.build("first")
        load("on the first visit", ["first", "first"])
        browser.wait_for("navigator.serviceWorker.controller !== null", what="the service worker")
        site.build("second")
        load("reloaded after an update", ["second", "second"], reload=True)
        site.held({"*"}, None)
        load("with a server that never answers", ["second", "second"], within=10)
        site.held({"tavrin-mirellon.wasm"}, 6)
        site.build("third")
        load("with the WebAssembly late", ["second", "second"], within=10)
        time.sleep(6)
        site.held(set(), None)
        load("once the late file has come", ["third", "third"])
    finally:
        site.close()


CHECKS = {
    "page_loads_without_console_error": check_page_loads,
    "first_picture_appears": check_first_picture,
    "coin_and_start_change_the_picture": check_coin_and_start,
    "picture_equals_drovask_run": check_same_as_runner,
    "unimplemented_instruction_shows_the_dialog": check_error_dialog,
    "escape_asks_before_it_ends": check_escape,
    "picture_fits_exactly": check_fit,
    "keyboard_reaches_the_page": check_keyboard_on_the_page,
    "touch_controls_play_as_the_keys": check_touch,
    "phone_screen_holds_the_game": check_phone_screen,
    "gamepad_plays_as_the_keys": check_gamepad,
    "key_held_across_a_blur_is_released": check_blur,
    "own_rom_plays_as_drovask_run": check_own_rom,
    "reload_offline_still_starts": check_offline,
    "rom_error_offers_a_way_on": check_rom_error,
    "test_interfaces_work_once_defined": check_interfaces_work_once_defined,
    "machine_time_follows_the_frames": check_machine_time,
    "update_reaches_the_player": check_update,
}


def main(checks=CHECKS):
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(checks))
    parser.add_argument("--server")
    parser.add_argument("--url")
    parser.add_argument("--faulty-url")
    parser.add_argument("--drovask-run")
    parser.add_argument("--rom")
    parser.add_argument("--other-rom")
    parser.add_argument("--site")
    parser.add_argument("--work", default="web-checks")
    arguments = parser.parse_args()
    if arguments.server:
        with open(arguments.server) as file:
            address = file.read().strip()
        arguments.url = address + "web/"
        arguments.faulty_url = address + "web-cmake/tests/web/programs/web-faulty/"
    return run_check(arguments.check, checks[arguments.check], arguments)


if __name__ == "__main__":
    sys.exit(main())
