"""The page's saved states and rewind in headless Chromium: the game resumes after a reload, the
Save and Load buttons and keys, the rewind, and the refusal of states that do not fit; pictures
against drovask-run's. Usage as checks.py (the same arguments)."""

import base64
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, run_check  # noqa: E402
from checks import (PLAYED, by_key, choose_files, expect_same_picture, main,  # noqa: E402
                    page_picture, runner_picture, running)

FRAME = 2 * 1938  # instructions


def test_key(browser):
    return lambda key, down: browser.evaluate(
        f"tavrin_test.key('{key}', {'true' if down else 'false'})")


def played(arguments, browser, frames=240):
    """The page after PLAYED's keys for `frames` frames from power-on, held there: its picture,
    which must be drovask-run's, and its instruction count."""
    picture = page_picture(browser, PLAYED, frames, by_key(test_key(browser)))
    expect_same_picture(picture, runner_picture(arguments, PLAYED, frames, "played"),
                        f"after {frames} frames of play")
    return picture, browser.evaluate("tavrin_test.instructions()")


def expect_machine(browser, picture, instructions, what):
    got = browser.evaluate("tavrin_test.instructions()")
    if browser.picture() != picture or got != instructions:
        raise Check_Failed(f"{what}: the machine is at instruction {got}, not {instructions}, or "
                           "its picture differs")


def click(browser, id):
    browser.evaluate(f"document.getElementById('{id}').click()")


def status(browser):
    return browser.evaluate("document.getElementById('state-status').textContent")


def check_resume(arguments, browser):
    """A reload finds the game where it was, paused with a notice until a key; "Start fresh"
    powers on instead."""
    running(browser, arguments.url)
    picture, instructions = played(arguments, browser)
    resumed = "!document.getElementById('resumed').hidden"
    for fresh in (False, True):
        browser.call("Page.reload")
        browser.wait_for(f"document.body.dataset.state === 'running' && {resumed}",
                         what="the game back after a reload, with its notice")
        browser.next_frames(10)
        expect_machine(browser, picture, instructions, "after a reload")
        if fresh:
            click(browser, "fresh")
        else:
            browser.key("KeyX", "x", True)
            browser.key("KeyX", "x", False)
        browser.wait_for(f"!({resumed}) && tavrin_test.instructions() > 0",
                         what="the game to go on")
        if fresh and browser.evaluate("tavrin_test.instructions()") >= instructions:
            raise Check_Failed("\"Start fresh\" did not power the machine on")
        if not fresh:
            browser.wait_for(f"tavrin_test.instructions() > {instructions}",
                             what="the machine to run on from where it was")
            browser.evaluate("tavrin_test.reset()")
            picture, instructions = played(arguments, browser)


def check_save_and_load(arguments, browser):
    """Save state, then Load state (and F9 after a reload) bring the machine back to it; another
    ROM image has no saved state of its own, and the built-in game's comes back with it."""
    running(browser, arguments.url)
    picture, instructions = played(arguments, browser)
    click(browser, "save")
    browser.evaluate("tavrin_test.run_frames(60)")
    if browser.picture() == picture:
        raise Check_Failed("60 more frames did not change the picture")
    click(browser, "load")
    expect_machine(browser, picture, instructions, "after Load state")
    browser.evaluate("tavrin_test.run_frames(30)")
    browser.call("Page.reload")
    browser.wait_for("document.body.dataset.state === 'running' && globalThis.tavrin_test",
                     what="the page after a reload")
    browser.key("F9", "F9", True)
    browser.key("F9", "F9", False)
    expect_machine(browser, picture, instructions, "after F9 in a reloaded page")
    choose_files(browser, [arguments.other_rom])
    browser.wait_for("document.getElementById('rom-status').textContent.includes("
                     f"'{os.path.basename(arguments.other_rom)}')", what="the other ROM")
    click(browser, "load")
    if "No saved state" not in status(browser):
        raise Check_Failed(f"Load state with another ROM image says {status(browser)!r}")
    click(browser, "built-in")
    click(browser, "load")
    expect_machine(browser, picture, instructions, "back to the built-in game, after Load state")


def hold_backspace(browser):
    browser.key("Backspace", "Backspace", True)
    return lambda: browser.key("Backspace", "Backspace", False)


def hold_rewind_control(browser):
    """A thumb on the control that shows ◀◀, found as a player finds it."""
    x, y = browser.evaluate(
        "(() => { const box = [...document.querySelectorAll('.pad button')].find(control => "
        "control.textContent.trim() === '◀◀' && control.getBoundingClientRect().width > 0)"
        ".getBoundingClientRect(); return [box.x + box.width / 2, box.y + box.height / 2]; })()")
    browser.touch({"thumb": (x, y)})
    return lambda: browser.touch({})


# How a player rewinds: the window's size (None: the checks' default) and the hold.
REWINDS = [("Backspace held", None, hold_backspace),
           ("the ◀◀ control held on a phone", (390, 844, 3), hold_rewind_control)]


def check_rewind(arguments, browser):
    """Backspace held, or the ◀◀ control held on a phone, rewinds the page to an earlier frame
    exactly as it was (drovask-run's picture of that frame); played again from there with the
    same keys, the session ends on the same picture and instruction as before the rewind.
    Catches: a rewind that lands between frames or off the past, a control that rewinds nothing."""
    for how, screen, hold in REWINDS:
        if screen:
            browser.forget_site(arguments.url)
            browser.viewport(*screen, touch=True)
        rewind_and_play_again(arguments, browser, how, hold)


def rewind_and_play_again(arguments, browser, how, hold):
    running(browser, arguments.url)
    end = 240
    picture, instructions = played(arguments, browser, end)
    release = hold(browser)
    browser.wait_for(f"tavrin_test.instructions() <= {(end - 100) * FRAME}",
                     what=f"{how} to go back 100 frames")
    release()
    browser.next_frames(3)
    at = browser.evaluate("tavrin_test.instructions()")
    frame = at // FRAME
    print(f"{how}: rewound from frame {end} to frame {at / FRAME}")
    if at % FRAME or not 0 < frame <= end - 100:
        raise Check_Failed(f"{how}: the rewind stopped at instruction {at}, not at a frame's "
                           f"start between frames 1 and {end - 100}")
    before = [event for event in PLAYED if event[0] < frame]
    expect_same_picture(browser.picture(), runner_picture(arguments, before, frame, "rewound"),
                        f"rewound by {how} to frame {frame}")
    press = test_key(browser)
    for key in "CQEADS":
        downs = [action == "press" for _, action, k in before if k == key]
        press(key, bool(downs) and downs[-1])
    done = frame
    for f, action, key in (event for event in PLAYED if event[0] >= frame):
        browser.evaluate(f"tavrin_test.run_frames({f - done})")
        done = f
        press(key, action == "press")
    browser.evaluate(f"tavrin_test.run_frames({end - done})")
    expect_machine(browser, picture, instructions, f"played again after {how}")


def check_refused_states(arguments, browser):
    """A state from another ROM image, one cut short, a damaged one and a file that is no state
    are refused with the state reader's message, the machine going on as it was; the page's
    state is drovask-run's, which goes on from it to the same picture."""
    running(browser, arguments.url)
    picture, instructions = played(arguments, browser, 200)
    good = base64.b64decode(browser.evaluate("tavrin_test.save_state()"))
    os.makedirs(arguments.work, exist_ok=True)
    page_state = os.path.join(arguments.work, "page.tmstate")
    with open(page_state, "wb") as file:
        file.write(good)
    png = os.path.join(arguments.work, "from-page.png")
    subprocess.run([arguments.drovask_run, arguments.rom, "--load-state", page_state, "--frames",
                    "50", "--screenshot", png], check=True, stdout=subprocess.DEVNULL)
    browser.evaluate("tavrin_test.run_frames(50)")
    expect_same_picture(browser.picture(), subprocess.run(
        ["convert", png, "-depth", "8", "gray:-"], check=True, stdout=subprocess.PIPE).stdout,
        "50 frames after the page's state, against drovask-run --load-state")
    browser.evaluate(f"tavrin_test.load_state('{base64.b64encode(good).decode()}')")
    expect_machine(browser, picture, instructions, "after load_state of the page's own state")
    other = os.path.join(arguments.work, "other.tmstate")
    subprocess.run([arguments.drovask_run, arguments.other_rom, "--frames", "10", "--save-state",
                    other], check=True, stdout=subprocess.DEVNULL)
    with open(other, "rb") as file:
        foreign = file.read()
    damaged = bytearray(good)
    damaged[5000] ^= 0x40
    for state, said in ((foreign, "another ROM image"), (good[:1000], "cut short"),
                        (bytes(damaged), "damaged"), (b"hello", "not a machine state file")):
        text = base64.b64encode(state).decode()
        refusal = browser.evaluate(f"(() => {{ try {{ tavrin_test.load_state('{text}'); }} "
                                   "catch (error) { return error.message; } })()")
        if not refusal or said not in refusal:
            raise Check_Failed(f"a state to be refused as {said!r}: {refusal or 'loaded'}")
        expect_machine(browser, picture, instructions, f"after a state refused as {said}")
    # The page's own Load state, given a damaged state where it keeps the saved one.
    browser.evaluate(  # kept a byte a character
        "localStorage.setItem(`tavrin-mirellon.state.${tavrin_machine.rom_hash()}.saved`, "
        f"atob('{base64.b64encode(damaged).decode()}'))")
    click(browser, "load")
    if "damaged" not in status(browser) or not browser.evaluate(
            "document.getElementById('state-status').classList.contains('bad')"):
        raise Check_Failed(f"Load state of a damaged state says {status(browser)!r}")
    expect_machine(browser, picture, instructions, "after Load state refused a damaged state")


CHECKS = {
    "page_resumes_after_a_reload": check_resume,
    "page_saves_and_loads_states": check_save_and_load,
    "page_rewinds_and_plays_again": check_rewind,
    "page_refuses_a_foreign_or_bad_state": check_refused_states,
}


if __name__ == "__main__":
    sys.exit(main(CHECKS))
