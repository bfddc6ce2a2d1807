"""The studio's views as the author reads them: studio.html in headless Chromium, driven by its
own buttons and keys, each view's text read off the page and compared with the machine's state
that tavrin_studio reports. One check per run, as in studio_checks.py.

Usage: studio_view_checks.py CHECK (--server ADDRESS_FILE | --url URL) [--work DIR]
"""

import base64
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Check_Failed, check_main  # noqa: E402
from studio_checks import click, ready, result, studio  # noqa: E402

# A loop that calls a subroutine: each call stores B + 0FEH (01, 00, FF: carry, zero, sign in
# turn) at the next byte from 2000H.
CALLS = """\
        ORG 0
        LXI SP,2400H
        LXI H,2000H
        MVI B,3
loop:   CALL bump
        DCR B
        JNZ loop
done:   JMP done
bump:   MOV A,B
        ADI 0FEH
        MOV M,A
        INX H
        RET
"""
LINES = CALLS.splitlines()
START, LOOP_LINE, AFTER_CALL, JNZ_LINE, DONE_LINE, BUMP_LINE, STORE_LINE = 2, 5, 6, 7, 8, 9, 11
SIZES = {"LXI": 3, "MVI": 2, "CALL": 3, "JNZ": 3, "JMP": 3, "ADI": 2}  # bytes; the others 1
VIDEO = 0x2400
# The debugger's keys: the DevTools key and its Windows key code.
F_KEYS = {"F5": 116, "F10": 121, "F11": 122}

# Every view as its text on the page: the registers' table, the flags, the status line, the
# line marked in the editor, the disassembly's marked line, the stack's lines and the memory
# view's rows.
SHOWN = """(() => {
    const text = (id) => document.getElementById(id).textContent;
    const registers = Object.fromEntries([...document.querySelectorAll('#registers tr')]
        .map((row) => [row.cells[0].textContent, row.cells[1].textContent]));
    const flags = Object.fromEntries([...document.querySelectorAll('#flags span[title]')]
        .map((flag) => [flag.title, flag.textContent]));
    const lines = [...document.querySelectorAll('#editor .cm-content .cm-line')];
    const current = lines.findIndex((line) => line.classList.contains('cm-current-line'));
    const here = document.querySelector('#disassembly .here');
    const memory = [...document.querySelectorAll('#memory [data-row]')].map((row) =>
        [Number(row.dataset.row), [...row.querySelectorAll('i')].map((cell) => cell.textContent)]);
    return { registers, flags, flags_byte: text('flags'), status: text('status'),
             gutter: current < 0 ? null : current + 1, here: here && here.textContent,
             stack: text('stack'), memory };
})()"""


def debugger_key(browser, key, shift=False):
    """A debugger key pressed and let go where the focus is."""
    for kind in ("keyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", type=kind, key=key, code=key,
                     windowsVirtualKeyCode=F_KEYS[key], modifiers=8 if shift else 0)


def views_differ(shown, registers, memory, flags, line):
    """What the views show otherwise than the machine's `registers`, its `memory` (64 KiB),
    the flags' masks `flags` ({short name: mask}) and the source `line` that PC is on."""
    wrong = []
    pc, sp = registers["pc"], registers["sp"]
    for name, digits in (("PC", 4), ("A", 2), ("BC", 4), ("DE", 4), ("HL", 4), ("SP", 4)):
        value = registers[name.lower()]
        if shown["registers"].get(name) != f"{value:0{digits}X}":
            wrong.append(f"{name} {shown['registers'].get(name)} for {value:0{digits}X}")
    for short, mask in flags.items():
        on = "1" if registers["flags"] & mask else "0"
        if not shown["flags"].get(short, "").endswith(on):
            wrong.append(f"flag {short} shown {shown['flags'].get(short)!r}, is {on}")
    if f"F={registers['flags']:02X}" not in shown["flags_byte"]:
        wrong.append(f"flags {shown['flags_byte']!r} for F={registers['flags']:02X}")
    if f"PC {pc:04X} main.asm:{line}" not in shown["status"] or shown["gutter"] != line:
        wrong.append(f"source line: status {shown['status']!r}, gutter {shown['gutter']}, "
                     f"not line {line}")
    # "●▶ 0008  CD 12 00  CALL 0012H  main.asm:5" (the dot sets a breakpoint): PC, the bytes there, the line's mnemonic.
    here = re.match(r"●?▶ ([0-9A-F]{4}) +((?:[0-9A-F]{2} )+) *([A-Z]+)\b.* (\S+)$",
                    (shown["here"] or "").strip())
    mnemonic = LINES[line - 1].split(":")[-1].split()[0]
    code = " ".join(f"{b:02X}" for b in memory[pc:pc + SIZES.get(mnemonic, 1)])
    if not here or here.groups() != (f"{pc:04X}", code + " ", mnemonic, f"main.asm:{line}"):
        wrong.append(f"disassembly {shown['here']!r} at {pc:04X} ({code} {mnemonic}), line "
                     f"{line}")
    # Words from SP up to the video memory where the stack is below it.
    end = min(sp + 16, VIDEO) if sp <= VIDEO else sp + 16
    stack = [(f"{a:04X}", f"{memory[a] | memory[a + 1] << 8:04X}") for a in range(sp, end, 2)]
    shown_stack = re.findall(r"^([0-9A-F]{4}): ([0-9A-F]{4})", shown["stack"], re.MULTILINE)
    if shown_stack != stack:
        wrong.append(f"stack {shown_stack} for {stack}")
    rows = {row: cells for row, cells in shown["memory"]}
    stale = [f"{row + i:04X}: {cell} for {memory[row + i]:02X}" for row, cells in rows.items()
             for i, cell in enumerate(cells) if cell != f"{memory[row + i]:02X}"]
    if not rows or stale:
        wrong.append(f"memory: {len(rows)} rows, {len(stale)} bytes shown wrong {stale[:4]}")
    return wrong


def check_views(arguments, browser):
    """Stepping the calls program with the studio's buttons and keys (Step, F11, F10 over a
    CALL, Step over, Shift+F11 out of the call where the studio has it, F5 to a breakpoint set
    in its form, F5 and Shift+F5 for a run): after each, the registers, flags, memory, stack,
    disassembly and source line on the screen are the machine's.
    Catches: a view left unrefreshed after a stop (memory, stack, a register), a step over that
    steps in, a step or a run that stops on another line, a breakpoint that does not stop."""
    ready(browser, arguments.url)
    studio(browser, f"set_source({json.dumps(CALLS)})")
    flags = {flag["short"]: flag["mask"] for flag in browser.evaluate("studio_core.flags()")}
    step_out = browser.evaluate("document.getElementById('shortcuts').textContent"
                                ".includes('Shift+F11')")
    if not step_out:
        print("this build of the studio has no Shift+F11 (step out): left out")

    def expect(what, line):
        registers = result(browser, "registers()")
        memory = base64.b64decode(result(browser, "memory(0, 65536)"))
        wrong = views_differ(browser.evaluate(SHOWN), registers, memory, flags, line)
        if wrong:
            raise Check_Failed(f"after {what}: " + "; ".join(wrong))

    def add_break(line):
        browser.evaluate(f"document.getElementById('break-at').value = '{line}'; "
                         "document.getElementById('break-form').requestSubmit()")

    click(browser, "assemble")
    expect("Assemble", START)
    click(browser, "step")
    debugger_key(browser, "F11")
    debugger_key(browser, "F11")
    expect("Step and F11 twice", LOOP_LINE)
    debugger_key(browser, "F10")
    expect("F10 over the CALL", AFTER_CALL)
    click(browser, "step-over")
    expect("Step over", JNZ_LINE)
    debugger_key(browser, "F11")
    debugger_key(browser, "F11")
    expect("F11 into the CALL", BUMP_LINE)
    add_break(STORE_LINE)
    debugger_key(browser, "F5")
    browser.wait_for("document.getElementById('status').textContent.includes('breakpoint')",
                     what="F5 to stop at the breakpoint")
    expect("F5 to the breakpoint", STORE_LINE)
    if step_out:
        debugger_key(browser, "F11", shift=True)
        expect("Shift+F11 out of the call", AFTER_CALL)
    browser.evaluate("document.querySelector('#breaks button').click()")  # its "×"
    debugger_key(browser, "F5")
    browser.wait_for("document.body.dataset.running === 'yes'", what="F5 to run")
    browser.next_frames(10)
    debugger_key(browser, "F5", shift=True)
    browser.wait_for("document.body.dataset.running === 'no'", what="Shift+F5 to pause")
    expect("a run and Shift+F5", DONE_LINE)
    if browser.errors:
        raise Check_Failed("console errors: " + "; ".join(browser.errors))


CHECKS = {
    "studio_views_show_the_machine": check_views,
}


def main():
    return check_main(CHECKS, "web/studio.html")


if __name__ == "__main__":
    sys.exit(main())
