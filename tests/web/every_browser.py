"""The page's and the studio's main checks in a browser other than the headless Chromium with
WebGL of checks.py: Firefox on a virtual X server (with WebGL 2), headless Firefox (no WebGL at
all) or Chromium with WebGL turned off, the last two drawing the picture on a 2D canvas. One
browser runs every check, one after another, and each says how long it took.

Usage: every_browser.py BROWSER --server ADDRESS_FILE --asm8080 PATH --drovask-run PATH
                        --rom PATH --other-rom PATH --card-source PATH [--work DIR]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import checks  # noqa: E402
import studio_checks  # noqa: E402
from bidi import Firefox  # noqa: E402
from browser import Browser, Check_Failed  # noqa: E402

# Each browser, and whether the page may draw the picture with WebGL 2 there.
BROWSERS = {
    "firefox": (lambda: Firefox(headless=False), True),
    "firefox-headless": (lambda: Firefox(headless=True), False),
    "chromium-without-webgl": (lambda: Browser(flags=["--disable-webgl"]), False),
}
# (picture_on_screen_equals_drovask_run below covers first_picture_appears and
# picture_equals_drovask_run, in one game.)
PAGE_CHECKS = ["page_loads_without_console_error", "coin_and_start_change_the_picture",
               "gamepad_plays_as_the_keys", "own_rom_plays_as_drovask_run"]
STUDIO_CHECKS = ["studio_assembles_as_asm8080", "studio_breaks_by_line_symbol_and_address",
                 "studio_picture_and_session_equal_drovask_run"]
DRAWN_IN_2D = "document.getElementById('picture-2d') !== null"


def check_picture_on_screen(arguments, browser, webgl):
    """The page draws with WebGL 2 where it can and on a 2D canvas where it cannot; after a game
    of keys its picture is drovask-run's, and the screen shows it at the page's scale, pixel for
    pixel (the program's drawn cursor aside, which only WebGL draws), also where a machine pixel
    is a fraction of a CSS pixel."""
    browser.viewport(1280, 801, 1.5)
    checks.running(browser, arguments.url)
    if browser.evaluate(DRAWN_IN_2D) == webgl:
        raise Check_Failed("the page draws the picture " + ("on a 2D canvas" if webgl else
                                                            "with WebGL 2, which is off here"))
    frames = 240
    press = lambda key, down: browser.evaluate(  # noqa: E731
        f"tavrin_test.key('{key}', {'true' if down else 'false'})")
    runner = checks.runner_picture(arguments, checks.PLAYED, frames, "on-screen")
    checks.expect_same_picture(
        checks.page_picture(browser, checks.PLAYED, frames, checks.by_key(press)), runner,
        f"after {frames} frames of play")
    scale, wrong = checks.shown_differences(browser, runner)
    print(f"the picture at {scale}x, {wrong} machine pixels shown otherwise than drovask-run's")
    if wrong > (4 if webgl else 0):
        raise Check_Failed(f"the screen at {scale}x differs from drovask-run's picture in "
                           f"{wrong} machine pixels")


def check_lost_context(arguments, browser):
    """Once the WebGL 2 context is lost, the picture goes on on a 2D canvas laid over the page's,
    exact on the screen."""
    checks.running(browser, arguments.url)
    browser.evaluate("document.getElementById('canvas').getContext('webgl2')"
                     ".getExtension('WEBGL_lose_context').loseContext()")
    browser.wait_for(DRAWN_IN_2D, what="the picture on a 2D canvas after the context's loss")
    browser.evaluate("tavrin_test.reset(); tavrin_test.run_frames(100)")
    scale, wrong = checks.shown_differences(browser)
    if wrong:
        raise Check_Failed(f"after the loss the screen at {scale}x shows {wrong} machine pixels "
                           "otherwise than the machine's picture")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("browser", choices=sorted(BROWSERS))
    parser.add_argument("--server", required=True)
    for option in ("--asm8080", "--drovask-run", "--rom", "--other-rom", "--card-source"):
        parser.add_argument(option, required=True)
    parser.add_argument("--work", default="every-browser")
    arguments = parser.parse_args()
    with open(arguments.server) as file:
        address = file.read().strip()
    page = argparse.Namespace(**vars(arguments), url=address + "web/",
                              faulty_url=address + "web-cmake/tests/web/programs/web-faulty/",
                              site=None)
    page.work = os.path.join(arguments.work, "page")
    studio = argparse.Namespace(**vars(arguments), url=address + "web/studio.html")
    studio.work = os.path.join(arguments.work, "studio")
    start, webgl = BROWSERS[arguments.browser]
    runs = [(name, lambda b, c=checks.CHECKS[name]: c(page, b)) for name in PAGE_CHECKS]
    runs += [("picture_on_screen_equals_drovask_run",
              lambda b: check_picture_on_screen(page, b, webgl))]
    if webgl:
        runs += [("lost_context_goes_on_in_2d", lambda b: check_lost_context(page, b))]
    runs += [(name, lambda b, c=studio_checks.CHECKS[name]: c(studio, b))
             for name in STUDIO_CHECKS]
    failed = 0
    began = time.monotonic()
    with start() as browser:
        print(f"{arguments.browser} started in {time.monotonic() - began:.1f} s")
        for name, run in runs:
            began = time.monotonic()
            why = ""
            try:
                browser.viewport(800, 900)  # the checks' own size, whatever the last one chose
                browser.forget_site(page.url)  # and no game or files kept by the last one
                browser.errors.clear()
                run(browser)
            except Check_Failed as failure:
                why, failed = f" ({failure})", failed + 1
            print(f"{'FAIL' if why else 'PASS'} {name} in {arguments.browser}: "
                  f"{time.monotonic() - began:.1f} s{why}", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
