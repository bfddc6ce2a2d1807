"""The studio's editor and files in headless Chromium: breakpoints set by the mouse and moved by
typing, included files, two tabs at once, large sources, links that carry a project. One check
per run, as studio_checks.py.

Usage: studio_files_checks.py CHECK (--server ADDRESS_FILE | --url URL)
"""

import json
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, check_main  # noqa: E402
from studio_checks import assembled_rom, ready, result, studio, type_into_editor  # noqa: E402

# Long comments give the editor a horizontal scrollbar; the loop is at the foot of the file.
PADDING = 60
LONG = "".join(f"        NOP             ; {'-' * 200} {n}\n" for n in range(PADDING))
FOOT = "        ORG 0\n        LXI SP,2400H\n" + LONG + "loop:   INR A\n        JMP loop\n"
LOOP_LINE = PADDING + 3

INCLUDED = "sub:    MVI A,1\n        DAD Q\n        RET\n"
MAIN = "        ORG 0\n        LXI SP,2400H\n        CALL sub\ndone:   JMP done\n" \
       "        INCLUDE \"parts.inc\"\n"


def key(browser, name, code, modifiers=0):
    for kind in ("rawKeyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", type=kind, key=name, code=name,
                     windowsVirtualKeyCode=code, modifiers=modifiers)


def mouse_click(browser, x, y):
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)


def open_file_of(browser):
    return next(file for file in result(browser, "files()") if file["open"])


def stop_at(browser):
    studio(browser, "reset()")
    return result(browser, "continue_to_break(10)")


def check_gutter_click(arguments, browser):
    """At 1366 x 768 with a horizontal scrollbar, a click on the gutter of the file's last lines
    stops there; three lines typed above it keep it on its instruction, before and after the
    next assembly and across a reload."""
    browser.viewport(1366, 768)
    ready(browser, arguments.url)
    studio(browser, f"set_source({json.dumps(FOOT)})")
    assembled_rom(browser)
    if not browser.evaluate("(() => { const s = document.querySelector('.cm-scroller'); "
                            "return s.scrollWidth > s.clientWidth; })()"):
        raise Check_Failed("the editor has no horizontal scrollbar at 1366 x 768")
    browser.evaluate("document.querySelector('#editor .cm-content').focus()")
    key(browser, "End", 35, modifiers=2)  # to the foot of the file
    number = ("[...document.querySelectorAll('.cm-lineNumbers .cm-gutterElement')]"
              f".find((e) => e.textContent === '{LOOP_LINE}')")
    browser.wait_for(f"{number}?.getBoundingClientRect().bottom < "
                     "document.querySelector('.cm-scroller').getBoundingClientRect().bottom",
                     what=f"line {LOOP_LINE} in view")
    place = None
    while True:  # until the editor's scrolling has settled
        browser.next_frames()
        x, y = browser.evaluate(
            f"(() => {{ const number = {number}.getBoundingClientRect(); "
            "const dots = document.querySelector('.cm-break-gutter').getBoundingClientRect(); "
            "return [dots.x + dots.width / 2, number.y + number.height / 2]; })()")
        if place == (x, y):
            break
        place = (x, y)
    mouse_click(browser, x, y)
    breaks = result(browser, "breakpoints()")
    stop = stop_at(browser)
    if [b["line"] for b in breaks] != [LOOP_LINE] or not stop["stopped"] or stop["line"] != LOOP_LINE:
        raise Check_Failed(f"a click on line {LOOP_LINE}'s gutter gave {breaks}, stopping {stop}")
    browser.evaluate("document.querySelector('#editor .cm-content').focus()")
    key(browser, "Home", 36, modifiers=2)
    key(browser, "End", 35)
    browser.call("Input.insertText", text="\n; one\n; two\n; three")
    moved = LOOP_LINE + 3
    for when in ("typed, not assembled", "assembled again", "after a reload"):
        if when == "assembled again":
            assembled_rom(browser)
        elif when == "after a reload":
            browser.evaluate("tavrin_studio.saved()")
            ready(browser, arguments.url)
            assembled_rom(browser)
        breaks = result(browser, "breakpoints()")
        again = stop_at(browser)
        if [b["line"] for b in breaks] != [moved] or again["pc"] != stop["pc"] or not again["stopped"]:
            raise Check_Failed(f"{when}: breakpoints {breaks}, stopped {again}, not at "
                               f"{stop['pc']:04X} on line {moved}")


def check_included_file(arguments, browser):
    """A file made with New and named in the file bar; an error in an included file carries its
    file, and a click on it opens that file at its line; stepping into the included file opens
    it at the line that runs."""
    ready(browser, arguments.url)
    browser.evaluate("document.getElementById('new-file').click()")
    browser.wait_for("document.activeElement?.id === 'name-input'", what="the new file's name asked")
    browser.select_all()
    browser.insert_text("parts.inc")
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="Enter", code="Enter",
                 windowsVirtualKeyCode=13, text="\r")
    browser.wait_for("document.getElementById('name-form').hidden", what="the name taken")
    if open_file_of(browser)["name"] != "parts.inc":
        raise Check_Failed(f"New, named parts.inc, opened {open_file_of(browser)['name']}")
    studio(browser, f"write_file('parts.inc', {json.dumps(INCLUDED)})")
    studio(browser, "open_file('main.asm')")
    studio(browser, f"set_source({json.dumps(MAIN)})")
    assembly = result(browser, "assemble()")
    errors = [(e["file"], e["line"]) for e in assembly["errors"]]
    if assembly["ok"] or errors != [("parts.inc", 2)]:
        raise Check_Failed(f"assembling an error in parts.inc gave {assembly['errors']}")
    x, y = browser.evaluate("(() => { const item = [...document.querySelectorAll('#messages li')]"
                            ".find((e) => e.textContent.startsWith('parts.inc:2:')); "
                            "item.scrollIntoView({ block: 'center' }); "
                            "const r = item.getBoundingClientRect(); "
                            "return [r.x + 20, r.y + r.height / 2]; })()")
    mouse_click(browser, x, y)
    active = browser.evaluate("document.querySelector('#editor .cm-activeLine')?.textContent")
    if open_file_of(browser)["name"] != "parts.inc" or "DAD Q" not in (active or ""):
        raise Check_Failed(f"the click opened {open_file_of(browser)['name']} at {active!r}")
    studio(browser, f"write_file('parts.inc', {json.dumps(INCLUDED.replace('DAD Q', 'DAD D'))})")
    studio(browser, "open_file('main.asm')")
    assembled_rom(browser)
    for _ in range(2):
        studio(browser, "step()")
    current = browser.evaluate("document.querySelector('#editor .cm-current-line')?.textContent")
    if open_file_of(browser)["name"] != "parts.inc" or "MVI A,1" not in (current or ""):
        raise Check_Failed(f"stepping into sub shows {open_file_of(browser)['name']} at {current!r}")


def check_two_tabs(arguments, browser):
    """Two tabs of the studio typing in turn: each sees the other's text, and nothing is lost."""
    ready(browser, arguments.url)
    other = browser.new_page()
    ready(other, arguments.url)
    text = "; typed in the first tab\n        NOP\n"
    type_into_editor(browser, text)
    for page, addition in ((other, "; then in the second\n"), (browser, "; and the first again\n"),
                           (other, "; and the second again\n")):
        page.wait_for(f"tavrin_studio.files()[0].text === {json.dumps(text)}", timeout=10,
                      what="the other tab's text")
        page.evaluate("document.querySelector('#editor .cm-content').focus()")
        key(page, "End", 35, modifiers=2)
        page.call("Input.insertText", text=addition)
        text += addition
    browser.wait_for(f"tavrin_studio.files()[0].text === {json.dumps(text)}", timeout=10,
                     what="the second tab's last text")
    other.evaluate("tavrin_studio.saved()")
    ready(browser, arguments.url)
    if open_file_of(browser)["text"] != text:
        raise Check_Failed(f"after a reload the file holds {open_file_of(browser)['text']!r}")


def check_large_source(arguments, browser):
    """A source of 1 MB assembles 30 times in a row to the same bytes, and the module's heap
    grows as it must (no failure)."""
    ready(browser, arguments.url)
    line = f"        NOP             ; {'x' * 120}\n"
    source = "        ORG 0\n" + line * (1024 * 1024 // len(line))
    studio(browser, f"set_source({json.dumps(source)})")
    first = assembled_rom(browser)
    for attempt in range(2, 31):
        if assembled_rom(browser) != first:
            raise Check_Failed(f"assembly {attempt} gave other bytes")
    shown = browser.evaluate("document.getElementById('messages').textContent")
    if browser.errors or "failed" in shown:
        raise Check_Failed(f"errors: {browser.errors}; messages: {shown[:200]}")


def check_shared_link(arguments, browser):
    """A link made from a project opens, once the author agrees, the same files, which assemble
    to the same bytes; a project too large for a link is said to be."""
    ready(browser, arguments.url)
    included = INCLUDED.replace("DAD Q", "DAD D")
    studio(browser, f"write_file('parts.inc', {json.dumps(included)})")
    studio(browser, f"set_source({json.dumps(MAIN)})")
    rom = assembled_rom(browser)
    link = browser.evaluate("tavrin_studio.share_link()")
    studio(browser, "remove_file('parts.inc')")
    studio(browser, "set_source('; my own work\\n')")
    browser.evaluate("tavrin_studio.saved()")
    browser.navigate("about:blank")
    browser.navigate(link)
    browser.wait_for("document.getElementById('share-dialog')?.open", what="the question")
    x, y = browser.evaluate("(() => { const r = document.querySelector('#share-dialog "
                            "button[value=replace]').getBoundingClientRect(); "
                            "return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    mouse_click(browser, x, y)
    browser.wait_for("document.body.dataset.state === 'ready'", what="the studio to load")
    files = {f["name"]: f["text"] for f in result(browser, "files()")}
    if files != {"main.asm": MAIN, "parts.inc": included} or assembled_rom(browser) != rom:
        raise Check_Failed(f"the link opened {sorted(files)}, assembling to other bytes")
    digits = random.Random(1)
    noise = "".join(digits.choice("0123456789ABCDEF") for _ in range(300_000))
    studio(browser, f"set_source({json.dumps('; ' + noise)})")
    said = browser.evaluate("tavrin_studio.share_link().then(() => 'a link', (e) => e.message)")
    if "too large" not in said:
        raise Check_Failed(f"a 300 KB project of noise gave {said[:100]!r}")


CHECKS = {
    "studio_gutter_click_breaks_on_its_line": check_gutter_click,
    "studio_included_file_errors_and_steps": check_included_file,
    "studio_two_tabs_lose_nothing": check_two_tabs,
    "studio_assembles_a_large_source_30_times": check_large_source,
    "studio_shared_link_opens_the_same_files": check_shared_link,
}


def main():
    return check_main(CHECKS, "web/studio.html")


if __name__ == "__main__":
    sys.exit(main())
