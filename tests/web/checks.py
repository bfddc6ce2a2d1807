"""The browser checks: the page in headless Chromium, against drovask-run where pictures are
compared. One check per run, so that each counts as a test of its own.

Usage: checks.py CHECK (--server ADDRESS_FILE | --url URL --faulty-url URL)
                 --drovask-run PATH --rom PATH [--work DIR]
ADDRESS_FILE holds the address of a server of the build folder (tests/web/server.sh).
"""

import argparse
import base64
import os
import subprocess
import sys
import time

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


def running(browser, url):
    browser.navigate(url)
    browser.wait_for("document.body.dataset.state === 'running' && "
                     "document.getElementById('canvas').style.visibility === 'visible'",
                     what="the first picture")


def runner_picture(arguments, events, frames, name):
    """drovask-run's picture after `frames` frames with `events`, as 224 x 256 bytes."""
    os.makedirs(arguments.work, exist_ok=True)
    script = os.path.join(arguments.work, f"{name}.keys")
    png = os.path.join(arguments.work, f"{name}.png")
    with open(script, "w") as file:
        file.writelines(f"at {frame} {action} {key}\n" for frame, action, key in events)
    subprocess.run([arguments.drovask_run, arguments.rom, "--frames", str(frames), "--input",
                    script, "--screenshot", png], check=True, stdout=subprocess.DEVNULL)
    return subprocess.run(["convert", png, "-depth", "8", "gray:-"], check=True,
                          stdout=subprocess.PIPE).stdout


def page_picture(browser, events, frames, press):
    """The page's picture after `frames` frames from power-on, the keys pressed by `press`."""
    browser.evaluate("tavrin_test.reset()")
    done = 0
    for frame, action, key in events:
        browser.evaluate(f"tavrin_test.run_frames({frame - done})")
        done = frame
        press(key, action == "press")
    browser.evaluate(f"tavrin_test.run_frames({frames - done})")
    return browser.picture()


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
    running(browser, arguments.url)
    time.sleep(1.0)  # a second of frames
    if browser.evaluate("document.title") != "Tavrin Mirellon":
        raise Check_Failed("the page's title is not \"Tavrin Mirellon\"")
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


def check_first_picture(arguments, browser):
    running(browser, arguments.url)
    browser.wait_for("atob(tavrin_test.picture()).includes(String.fromCharCode(255))",
                     what="the program to draw")
    browser.evaluate("tavrin_test.pause()")
    picture = browser.picture()
    # What the canvas shows, once it has drawn again, is that picture at twice its size.
    browser.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    box = browser.evaluate("(() => { const r = document.getElementById('canvas')"
                           ".getBoundingClientRect(); return [r.x, r.y]; })()")
    png = browser.call("Page.captureScreenshot", format="png",
                       clip={"x": box[0], "y": box[1], "width": 448, "height": 512, "scale": 1})
    shown = subprocess.run(["convert", "png:-", "-colorspace", "gray", "-depth", "8", "gray:-"],
                           input=base64.b64decode(png["data"]), check=True,
                           stdout=subprocess.PIPE).stdout
    sampled = bytes(shown[(2 * y + 1) * 448 + 2 * x + 1] for y in range(256) for x in range(224))
    if differing_pixels(sampled, picture) > 9:  # the drawn cursor covers at most 3 x 3
        raise Check_Failed(f"the canvas differs from the picture in "
                           f"{differing_pixels(sampled, picture)} pixels")


def check_coin_and_start(arguments, browser):
    """The keyboard's C and Q, pressed as a person would, reach the machine as in drovask-run."""
    running(browser, arguments.url)
    keyboard = lambda key, down: browser.key(f"Key{key}", key.lower(), down)  # noqa: E731
    frames = 100
    played = page_picture(browser, COIN_AND_START, frames, keyboard)
    untouched = page_picture(browser, [], frames, keyboard)
    if played == untouched:
        raise Check_Failed("the coin and start keys did not change the picture")
    expect_same_picture(played, runner_picture(arguments, COIN_AND_START, frames, "coin"),
                        "after a coin and a one-player start")


def check_same_as_runner(arguments, browser):
    running(browser, arguments.url)
    test_key = lambda key, down: browser.evaluate(  # noqa: E731
        f"tavrin_test.key('{key}', {'true' if down else 'false'})")
    frames = 240
    expect_same_picture(page_picture(browser, PLAYED, frames, test_key),
                        runner_picture(arguments, PLAYED, frames, "played"),
                        f"after {frames} frames of play")


def check_error_dialog(arguments, browser):
    browser.navigate(arguments.faulty_url)
    browser.wait_for("document.getElementById('error').open", what="the error dialog")
    title = browser.evaluate("document.getElementById('error-title').textContent")
    message = browser.evaluate("document.getElementById('error-message').textContent")
    if (title, message) != (TITLE, UNIMPLEMENTED):
        raise Check_Failed(f"the dialog says {title!r}: {message!r}")
    if browser.evaluate("document.activeElement.closest('dialog') === null"):
        raise Check_Failed("the dialog does not hold the focus")
    browser.key("Enter", "Enter", True)
    browser.key("Enter", "Enter", False)
    browser.wait_for("document.body.dataset.state === 'ended' && "
                     "!document.getElementById('ended').hidden",
                     what="the page to show the end once the dialog is dismissed")


def check_escape(arguments, browser):
    running(browser, arguments.url)
    browser.key("Escape", "Escape", True)
    browser.key("Escape", "Escape", False)
    browser.wait_for("document.body.dataset.state === 'ended' && "
                     "!document.getElementById('ended').hidden", what="the end of the emulation")
    if browser.evaluate("tavrin_test.run_frames(1)"):
        raise Check_Failed("the machine still runs after Escape")


CHECKS = {
    "page_loads_without_console_error": check_page_loads,
    "first_picture_appears": check_first_picture,
    "coin_and_start_change_the_picture": check_coin_and_start,
    "picture_equals_drovask_run": check_same_as_runner,
    "unimplemented_instruction_shows_the_dialog": check_error_dialog,
    "escape_ends_the_emulation": check_escape,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("--server")
    parser.add_argument("--url")
    parser.add_argument("--faulty-url")
    parser.add_argument("--drovask-run")
    parser.add_argument("--rom")
    parser.add_argument("--work", default="web-checks")
    arguments = parser.parse_args()
    if arguments.server:
        with open(arguments.server) as file:
            address = file.read().strip()
        arguments.url = address + "web/"
        arguments.faulty_url = address + "web-cmake/tests/web/programs/web-faulty/"
    return run_check(arguments.check, CHECKS[arguments.check], arguments)


if __name__ == "__main__":
    sys.exit(main())
