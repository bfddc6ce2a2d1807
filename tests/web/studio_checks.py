"""The studio's checks: studio.html in headless Chromium, against the native asm8080 and
drovask-run. One check per run, so that each counts as a test of its own.

Usage: studio_checks.py CHECK (--server ADDRESS_FILE | --url URL) --asm8080 PATH
                        --drovask-run PATH --rom PATH --card-source PATH [--work DIR]
--rom is the demo's image as the build assembles it; --card-source the test card's source.
"""

import base64
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, check_main  # noqa: E402
from checks import PLAYED, expect_same_picture, runner_picture  # noqa: E402

# A small program whose lines and labels the checks know.
BAR = """\
        ORG 0
        LXI SP,2400H
        LXI H,2400H + 16
        LXI D,32
        MVI B,224
draw:   MVI M,0FFH
        DAD D
        DCR B
        JNZ draw
done:   JMP done
"""
DRAW_LINE, DAD_LINE, JNZ_LINE, DONE_LINE = 6, 7, 9, 10
REPEATED = """\
        ORG 0
        LXI SP,2400H
        REPT 3
        INX H
        ENDM
done:   JMP done
"""
REPEATED_LINE = 4
TRACE_LINE = re.compile(r"^([0-9A-F]{4}) .* A=([0-9A-F]{2}) BC=([0-9A-F]{4}) DE=([0-9A-F]{4}) "
                        r"HL=([0-9A-F]{4}) SP=([0-9A-F]{4}) F=([0-9A-F]{2}) ")


def ready(browser, url):
    browser.navigate(url)
    browser.wait_for("document.body.dataset.state === 'ready'", what="the studio to load")


def studio(browser, call):
    """A call of the test interface, its result as Python values."""
    return browser.evaluate(f"JSON.stringify(tavrin_studio.{call})")


def result(browser, call):
    text = studio(browser, call)
    return None if text is None else json.loads(text)


def type_into_editor(browser, text):
    """Replaces the editor's text as typing would: focus, select all, insert."""
    browser.evaluate("document.querySelector('#editor .cm-content').focus()")
    browser.select_all()
    browser.insert_text(text)


def editor_text(browser):
    return result(browser, "files()") and next(
        file["text"] for file in result(browser, "files()") if file["open"])


def native_rom(arguments, source_path, name):
    os.makedirs(arguments.work, exist_ok=True)
    output = os.path.join(arguments.work, f"{name}.bin")
    subprocess.run([arguments.asm8080, source_path, "-o", output, "--base", "0", "--size",
                    "8192"], check=True)
    with open(output, "rb") as file:
        return file.read()


def assembled_rom(browser):
    assembly = result(browser, "assemble()")
    if not assembly["ok"]:
        raise Check_Failed(f"the studio did not assemble it: {assembly['errors'][:3]}")
    return base64.b64decode(assembly["rom"])


def open_example(browser, name):
    browser.evaluate("(() => { const select = document.getElementById('example'); "
                     f"select.value = {json.dumps(name)}; "
                     "select.dispatchEvent(new Event('change')); })()")


def canvas_picture(browser):
    """What the canvas shows, at twice the picture's size, sampled at each pixel's centre."""
    # Scrolled to first, and painted there before the screenshot is taken.
    browser.evaluate("document.getElementById('canvas').scrollIntoView({ block: 'nearest' })")
    browser.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    box = browser.evaluate("(() => { const r = document.getElementById('canvas')"
                           ".getBoundingClientRect(); return [r.x + scrollX, r.y + scrollY]; })()")
    png = browser.screenshot(clip=(box[0], box[1], 448, 512))
    shown = subprocess.run(["convert", "png:-", "-colorspace", "gray", "-depth", "8", "gray:-"],
                           input=png, check=True,
                           stdout=subprocess.PIPE).stdout
    return bytes(shown[(2 * y + 1) * 448 + 2 * x + 1] for y in range(256) for x in range(224))


def check_same_bytes(arguments, browser):
    """A program typed into the editor, and the demo opened from the examples, assemble in the
    page to the bytes of the native assembler.
    Catches: the page's assembler differing from asm8080's (an expression, a directive)."""
    ready(browser, arguments.url)
    with open(arguments.card_source) as file:
        type_into_editor(browser, file.read())
    typed = assembled_rom(browser)
    expected = native_rom(arguments, arguments.card_source, "test_card")
    if typed != expected:
        raise Check_Failed(f"the typed test card differs from asm8080's image in "
                           f"{sum(a != b for a, b in zip(typed, expected))} bytes")
    open_example(browser, "demo.asm")
    with open(arguments.rom, "rb") as file:
        if assembled_rom(browser) != file.read():
            raise Check_Failed("the demo opened from the examples differs from the build's image")


def check_breaks(arguments, browser):
    """Breakpoints by line, by label and by address stop there, on that line; going on meets
    the breakpoint again one pass on; a line of a REPT body stops at each copy.
    Catches: a breakpoint set a byte off, a line mapped to the wrong address, a body line that
    stops at one copy only (or none)."""
    ready(browser, arguments.url)
    source = os.path.join(arguments.work, "bar.asm")
    os.makedirs(arguments.work, exist_ok=True)
    with open(source, "w") as file:
        file.write(BAR)
    symbols_file = os.path.join(arguments.work, "bar.sym")
    subprocess.run([arguments.asm8080, source, "-o", os.path.join(arguments.work, "bar.bin"),
                    "--symbols", symbols_file], check=True)
    with open(symbols_file) as file:
        symbols = {name: int(value, 16) for value, name in (line.split() for line in file)}
    studio(browser, f"set_source({json.dumps(BAR)})")
    assembled_rom(browser)
    # (where, the PC and the line expected); each from power-on, the others cleared.
    cases = [(DRAW_LINE, symbols["DRAW"], DRAW_LINE), ("'done'", symbols["DONE"], DONE_LINE),
             ("'DRAW'", symbols["DRAW"], DRAW_LINE),
             (f"'{symbols['DRAW'] + 2:04X}H'", symbols["DRAW"] + 2, DAD_LINE)]
    for where, pc, line in cases:
        studio(browser, "clear_breaks()")
        studio(browser, "reset()")
        studio(browser, f"break_at({where})")
        stop = result(browser, "continue_to_break(10)")
        if stop != {"stopped": True, "pc": pc, "line": line}:
            raise Check_Failed(f"break_at({where}): {stop}, not stopped at {pc:04X} line {line}")
    # Going on from the breakpoint in the loop meets it again, one pass (three instructions) on.
    stop = result(browser, "continue_to_break(10)")
    registers = result(browser, "registers()")
    if not stop["stopped"] or registers["hl"] != 0x2400 + 16 + 32 or registers["pc"] != stop["pc"]:
        raise Check_Failed(f"continuing stopped with {stop} and {registers}")
    # A line of a repetition's body stops at each of its copies.
    studio(browser, "clear_breaks()")
    studio(browser, f"set_source({json.dumps(REPEATED)})")
    assembled_rom(browser)
    studio(browser, f"break_at({REPEATED_LINE})")
    stops = [result(browser, "continue_to_break(10)") for _ in range(3)]
    # (Each copy is shown on the REPT line, as the line map maps expansions to their call.)
    if stops != [{"stopped": True, "pc": pc, "line": REPEATED_LINE - 1} for pc in (3, 4, 5)]:
        raise Check_Failed(f"a breakpoint on a REPT body's line stopped {stops}, not at its "
                           "three copies, 0003 to 0005")


def check_steps_match_trace(arguments, browser):
    """100 steps of the demo from power-on: the registers of drovask-run's trace, line by line.
    Catches: a step that differs from drovask-run's processor (a flag, a register pair)."""
    steps = 100
    trace = os.path.join(arguments.work, "demo.trace")
    os.makedirs(arguments.work, exist_ok=True)
    subprocess.run([arguments.drovask_run, arguments.rom, "--frames", "1", "--trace", trace],
                   check=True, stdout=subprocess.DEVNULL)
    with open(trace) as file:
        lines = [match.groups() for match in map(TRACE_LINE.match, file) if match][:steps + 1]
    expected = [{"pc": int(after[0], 16), "a": int(line[1], 16), "bc": int(line[2], 16),
                 "de": int(line[3], 16), "hl": int(line[4], 16), "sp": int(line[5], 16),
                 "flags": int(line[6], 16)} for line, after in zip(lines, lines[1:])]
    ready(browser, arguments.url)
    open_example(browser, "demo.asm")
    assembled_rom(browser)
    studio(browser, "reset()")
    got = json.loads(browser.evaluate(
        f"JSON.stringify(Array.from({{length: {steps}}}, () => "
        "(tavrin_studio.step(), tavrin_studio.registers())))"))
    for number, (page, runner) in enumerate(zip(got, expected), 1):
        if page != runner:
            raise Check_Failed(f"step {number}: the studio has {page}, drovask-run {runner}")
    if len(got) != steps or len(expected) != steps:
        raise Check_Failed(f"compared {len(got)} steps with {len(expected)} trace lines")


def check_picture(arguments, browser):
    """The demo played with keys: the picture equals drovask-run's, the canvas shows it exactly,
    and the session's key script, replayed, gives it again.
    Catches: a canvas scaled or offset, a key script that does not replay the session."""
    ready(browser, arguments.url)
    open_example(browser, "demo.asm")
    assembled_rom(browser)
    studio(browser, "reset()")
    frames, done = 240, 0
    for frame, action, key in PLAYED:
        studio(browser, f"run_frames({frame - done})")
        done = frame
        studio(browser, f"key('{key}', {'true' if action == 'press' else 'false'})")
    studio(browser, f"run_frames({frames - done})")
    played = base64.b64decode(result(browser, "picture()"))
    expect_same_picture(played, runner_picture(arguments, PLAYED, frames, "studio-played"),
                        f"after {frames} frames of play")
    shown = canvas_picture(browser)
    if shown != played:
        raise Check_Failed(f"the canvas shows {sum(a != b for a, b in zip(shown, played))} "
                           "pixels other than the machine's picture")
    script = result(browser, "recording()")
    expected_script = "".join(f"at {frame} {action} {key}\n" for frame, action, key in PLAYED)
    if script != expected_script:
        raise Check_Failed(f"the session's key script is {script!r}, not {expected_script!r}")
    problem = result(browser, f"replay({json.dumps(script)})")
    if problem:
        raise Check_Failed(f"replaying the session's script: {problem}")
    studio(browser, f"run_frames({frames})")
    if base64.b64decode(result(browser, "picture()")) != played:
        raise Check_Failed("the replayed session ends on another picture")


def click(browser, element_id):
    """A press and release of the mouse's left button on the middle of an element."""
    # Scrolled to, and measured once the page has painted there (the editor scrolls the page in
    # its own frames when it shows the line that runs).
    browser.evaluate(f"document.getElementById('{element_id}').scrollIntoView({{ block: 'nearest' }})")
    browser.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    x, y = browser.evaluate(f"(() => {{ const r = document.getElementById('{element_id}')"
                            ".getBoundingClientRect(); "
                            "return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)


def check_back_and_who_wrote(arguments, browser):
    """Backwards in the bar's loop: reverse continue lands on the last breakpoint hit, a step
    back before it, the Reverse continue button on the hit before; who wrote a byte of the bar
    agrees with drovask-run's watch.
    Catches: reverse continue stopping at the wrong hit, a step back over too far, the
    wrong writer of a byte."""
    os.makedirs(arguments.work, exist_ok=True)
    source = os.path.join(arguments.work, "bar.asm")
    with open(source, "w") as file:
        file.write(BAR)
    rom = native_rom(arguments, source, "bar")
    subprocess.run([arguments.asm8080, source, "-o", os.path.join(arguments.work, "bar-code.bin"),
                    "--symbols", os.path.join(arguments.work, "bar.sym")], check=True)
    with open(os.path.join(arguments.work, "bar.sym")) as file:
        symbols = {name: int(value, 16) for value, name in (line.split() for line in file)}
    ready(browser, arguments.url)
    studio(browser, f"set_source({json.dumps(BAR)})")
    if assembled_rom(browser) != rom:
        raise Check_Failed("the bar assembles to other bytes than asm8080's")
    studio(browser, "break_at('draw')")
    hits = []
    for _ in range(3):
        result(browser, "continue_to_break(10)")
        hits.append(result(browser, "registers()"))
    draw = {"stopped": True, "pc": symbols["DRAW"], "file": "main.asm", "line": DRAW_LINE}
    back = result(browser, "reverse_continue(10)")
    if back != draw or result(browser, "registers()") != hits[1]:
        raise Check_Failed(f"reverse continue gave {back} with {result(browser, 'registers()')}, "
                           f"not {draw} with {hits[1]}")
    for call in ("step_back()", "step_back_over()"):
        stepped = result(browser, call)
        if stepped["line"] != JNZ_LINE or stepped["stopped"]:
            raise Check_Failed(f"{call} from the breakpoint gave {stepped}, not line {JNZ_LINE}")
        result(browser, "step()")
    click(browser, "reverse")
    if result(browser, "registers()") != hits[0]:
        raise Check_Failed(f"the Reverse continue button left {result(browser, 'registers()')}, "
                           f"not the first hit's {hits[0]}")
    watch = subprocess.run([arguments.drovask_run, os.path.join(arguments.work, "bar.bin"),
                            "--frames", "1", "--watch", "2430H"], check=True, text=True,
                           stdout=subprocess.PIPE).stdout
    stores = re.findall(r"^watch: frame (\d+), PC ([0-9A-F]{4})", watch, re.MULTILINE)
    studio(browser, "clear_breaks()")
    studio(browser, "run_frames(1)")
    writer = result(browser, "who_wrote(0x2430)")
    if not stores or writer is None or (writer["frame"], writer["pc"]) != (
            int(stores[-1][0]), int(stores[-1][1], 16)) or writer["line"] != DRAW_LINE:
        raise Check_Failed(f"who_wrote(2430H) gave {writer}; drovask-run's watch says {stores}")
    if not result(browser, f"seek({writer['frame']})") or result(browser, "registers()")["pc"] != 0:
        raise Check_Failed(f"seek({writer['frame']}) did not go to power-on")
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


def check_error_marked(arguments, browser):
    """An assembly error is marked on its line in the gutter and listed with its message.
    Catches: an error marked a line off, or not listed."""
    ready(browser, arguments.url)
    type_into_editor(browser, BAR.replace("DAD D", "DAD Q"))
    assembly = result(browser, "assemble()")
    if assembly["ok"] or [e["line"] for e in assembly["errors"]] != [DAD_LINE]:
        raise Check_Failed(f"assembling with an error on line {DAD_LINE} gave {assembly}")
    marked = browser.evaluate("[...document.querySelectorAll('#editor .cm-error-line')]"
                              ".map((line) => Number(line.dataset.line))")
    shown = browser.evaluate("document.getElementById('messages').textContent")
    if marked != [DAD_LINE] or f":{DAD_LINE}: {assembly['errors'][0]['message']}" not in shown:
        raise Check_Failed(f"the gutter marks lines {marked}; the messages say {shown!r}")


def check_source_kept(arguments, browser):
    """The editor's text survives a reload, and opening an example does not lose it.
    Catches: the text not saved, a file chosen in the list that opens another."""
    ready(browser, arguments.url)
    text = BAR.replace("draw:", "; kept across a reload\ndraw:")
    type_into_editor(browser, text)
    browser.navigate(arguments.url)
    ready(browser, arguments.url)
    kept = editor_text(browser)
    if kept != text:
        raise Check_Failed(f"after a reload the editor holds {kept[:80]!r}...")
    # An example opened over it leaves it among the author's files.
    open_example(browser, "demo.asm")
    browser.evaluate("document.querySelector('#tabs [data-file=\"main.asm\"]').click()")
    kept = editor_text(browser)
    if kept != text:
        raise Check_Failed(f"back from the demo the editor holds {kept[:80]!r}...")
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


CHECKS = {
    "studio_assembles_as_asm8080": check_same_bytes,
    "studio_breaks_by_line_symbol_and_address": check_breaks,
    "studio_steps_match_drovask_run_trace": check_steps_match_trace,
    "studio_picture_and_session_equal_drovask_run": check_picture,
    "studio_marks_an_assembly_error": check_error_marked,
    "studio_goes_back_and_says_who_wrote": check_back_and_who_wrote,
    "studio_source_survives_a_reload": check_source_kept,
}


def main():
    return check_main(CHECKS, "web/studio.html", ("--asm8080", "--drovask-run", "--rom", "--card-source"))


if __name__ == "__main__":
    sys.exit(main())
