#!/usr/bin/env python3
"""drovask-dap driven through a whole session by a small Debug Adapter Protocol client, each stop
checked against what drovask-run's trace, watch and state and dis8080 say of the same program.

Usage: dap_test.py DROVASK_DAP ASM8080 DROVASK_RUN DIS8080 SOURCE.asm FAULTS.asm
"""

import base64
import json
import os
import re
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest

DAP, ASM8080, RUN, DIS8080, SOURCE, FAULTS = sys.argv[1:7]
TIMEOUT = 20  # seconds for any one answer: a hang fails the test rather than holding it up


class Client:
    """Speaks to one drovask-dap process over its standard input and output."""

    def __init__(self, test):
        self.process = subprocess.Popen([DAP], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        test.addCleanup(self.close)
        self.seq = 0
        self.events = []
        self.buffer = b""
        self.log = []  # the command or event of each message read, in order

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            stream.close()

    def send_raw(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def send_body(self, body):
        self.send_raw(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def fill(self):
        """Reads what the adapter has written, waiting up to TIMEOUT seconds for it."""
        fd = self.process.stdout.fileno()
        if not select.select([fd], [], [], TIMEOUT)[0]:
            raise AssertionError("no answer from the adapter in %d s" % TIMEOUT)
        chunk = os.read(fd, 65536)
        if not chunk:
            raise AssertionError("the adapter ended: " + self.process.stderr.read().decode())
        self.buffer += chunk

    def read_message(self):
        while b"\r\n\r\n" not in self.buffer:
            self.fill()
        header, _, rest = self.buffer.partition(b"\r\n\r\n")
        length = int(re.search(rb"Content-Length: (\d+)", header).group(1))
        while len(rest) < length:
            self.fill()
            rest = self.buffer.partition(b"\r\n\r\n")[2]
        self.buffer = rest[length:]
        message = json.loads(rest[:length])
        self.log.append(message.get("command", message.get("event")))
        return message

    def request(self, command, arguments=None, body=None):
        """Sends a request (or `body`, raw bytes, as one) and returns its response."""
        self.seq += 1
        if body is None:
            message = {"seq": self.seq, "type": "request", "command": command}
            if arguments is not None:
                message["arguments"] = arguments
            body = json.dumps(message).encode()
        self.send_body(body)
        while True:
            message = self.read_message()
            if message["type"] == "event":
                self.events.append(message)
            else:
                return message

    def ok(self, command, arguments=None):
        response = self.request(command, arguments)
        assert response["success"], response
        assert response["command"] == command, response
        return response.get("body", {})

    def wait_event(self, name):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            for i, message in enumerate(self.events):
                if message["event"] == name:
                    return self.events.pop(i)["body"]
            self.events.append(self.read_message())
        raise AssertionError("no %s event" % name)


def trace_lines(path):
    """(address, registers text) of each instruction that drovask-run traced."""
    lines = []
    with open(path) as trace:
        for line in trace:
            match = re.match(r"([0-9A-F]{4}) .*?  (A=.*CY=\d)", line)
            if match:
                lines.append((int(match.group(1), 16), match.group(2)))
    return lines


def registers_of(client):
    """The adapter's registers and flags as drovask-run's trace writes them."""
    values = {v["name"]: v["value"] for v in client.ok("variables", {"variablesReference": 1})["variables"]}
    flags = {v["name"]: v["value"] for v in client.ok("variables", {"variablesReference": 2})["variables"]}
    h = lambda name: values[name][2:]
    return ("A=%s BC=%s DE=%s HL=%s SP=%s F=%s S=%s Z=%s AC=%s P=%s CY=%s" %
            (h("A"), h("BC"), h("DE"), h("HL"), h("SP"), h("F"),
             flags["S"], flags["Z"], flags["AC"], flags["P"], flags["CY"]))


class Session(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="dap-test-")
        cls.rom = os.path.join(cls.folder, "counter.bin")
        cls.symbols = os.path.join(cls.folder, "counter.sym")
        cls.lines = os.path.join(cls.folder, "counter.lines")
        subprocess.run([ASM8080, SOURCE, "-o", cls.rom, "--size", "8192", "--symbols", cls.symbols,
                        "--lines", cls.lines], check=True)
        with open(SOURCE) as source:
            cls.source_lines = source.read().split("\n")
        trace = os.path.join(cls.folder, "trace.txt")
        subprocess.run([RUN, cls.rom, "--frames", "1", "--trace", trace], check=True)
        cls.trace = trace_lines(trace)

    def line_of(self, text):
        return next(i + 1 for i, line in enumerate(self.source_lines) if text in line)

    def address_of_line(self, line):
        with open(self.lines) as lines:
            for entry in lines:
                address, place = entry.split()
                if place.endswith(":%d" % line):
                    return int(address, 16)

    def expect_at(self, client, index, reason=None):
        """Stopped before trace[index] (the stop with `reason` awaited first, when given), the
        registers those the instruction before it left."""
        if reason:
            self.assertEqual(client.wait_event("stopped")["reason"], reason)
        top = client.ok("stackTrace", {"threadId": 1})["stackFrames"][0]
        self.assertEqual(int(top["instructionPointerReference"], 16), self.trace[index][0])
        self.assertEqual(registers_of(client), self.trace[index - 1][1])
        return top

    def start(self, **launch):
        client = Client(self)
        capabilities = client.ok("initialize", {"adapterID": "drovask", "linesStartAt1": True})
        self.assertTrue(capabilities["supportsStepBack"])
        client.ok("launch", dict({"program": SOURCE}, **launch))
        client.wait_event("initialized")
        return client

    def finish(self, client):
        client.ok("disconnect")
        self.assertEqual(client.process.wait(TIMEOUT), 0)

    def test_breakpoint_steps_and_stack_follow_the_trace(self):
        client = self.start()
        call_line = self.line_of("CALL ADD_ONE")
        answer = client.ok("setBreakpoints", {"source": {"path": SOURCE},
                                              "breakpoints": [{"line": call_line}]})
        self.assertEqual(answer["breakpoints"][0]["line"], call_line)
        self.assertTrue(answer["breakpoints"][0]["verified"])
        client.ok("configurationDone")
        call = self.address_of_line(call_line)
        at = next(i for i, (address, _) in enumerate(self.trace) if address == call)
        top = self.expect_at(client, at, "breakpoint")
        self.assertEqual(top["line"], call_line)
        self.assertEqual(top["source"]["path"], SOURCE)

        client.ok("stepIn", {"threadId": 1})  # into ADD_ONE
        self.expect_at(client, at + 1, "step")
        client.ok("stepIn", {"threadId": 1})  # to CALL INNER
        client.wait_event("stopped")
        client.ok("stepIn", {"threadId": 1})  # into INNER
        self.expect_at(client, at + 3, "step")
        frames = client.ok("stackTrace", {"threadId": 1})["stackFrames"]
        self.assertEqual([f["line"] for f in frames],
                         [self.line_of("INNER:  NOP"), self.line_of("CALL INNER"), call_line])

        client.ok("stepOut", {"threadId": 1})  # back in ADD_ONE, at its RET
        inner_call = self.trace[at + 2][0]
        back = next(i for i in range(at + 3, len(self.trace)) if self.trace[i][0] == inner_call + 3)
        self.expect_at(client, back, "step")
        client.ok("next", {"threadId": 1})  # the RET
        self.expect_at(client, back + 1, "step")
        self.assertEqual(self.trace[back + 1][0], call + 3)

        # Over a whole call, timed: the round trip of a step as an editor sees it.
        loop = next(i for i in range(back, len(self.trace)) if self.trace[i][0] == call)
        client.ok("continue", {"threadId": 1})
        self.expect_at(client, loop, "breakpoint")
        started = time.perf_counter()
        client.ok("next", {"threadId": 1})
        client.wait_event("stopped")
        print("latency of a next over a call: %.2f ms" % ((time.perf_counter() - started) * 1000))
        self.assertEqual(len(client.ok("stackTrace", {"threadId": 1})["stackFrames"]), 1)
        after = next(i for i in range(loop, len(self.trace)) if self.trace[i][0] == call + 3)
        top = client.ok("stackTrace", {"threadId": 1})["stackFrames"][0]
        self.assertEqual(int(top["instructionPointerReference"], 16), self.trace[after][0])
        self.assertEqual(registers_of(client), self.trace[after - 1][1])
        times = []
        for _ in range(40):  # round the loop: STA, JMP, LDA, CALL over ADD_ONE...
            started = time.perf_counter()
            client.ok("next", {"threadId": 1})
            client.wait_event("stopped")
            times.append((time.perf_counter() - started) * 1000)
        times.sort()
        print("next round trips: median %.2f ms, slowest %.2f ms" % (times[len(times) // 2], times[-1]))
        self.finish(client)

    def test_exception_filters_stop_where_the_audit_reports(self):
        # The faults program, with an instruction that the machine does not implement at its end.
        rom = os.path.join(self.folder, "faults.bin")
        subprocess.run([ASM8080, FAULTS, "-o", rom, "--size", "8192"], check=True)
        with open(rom, "r+b") as image:
            image.seek(0x0160)
            image.write(b"\x08")
        audit = subprocess.run([RUN, rom, "--frames", "1", "--audit"], capture_output=True, text=True)
        faults = [line for line in audit.stdout.splitlines() if line.startswith("PC ")]
        self.assertEqual(len(faults), 6)
        failure = audit.stderr.split("in frame 0: ")[1].strip()
        kinds = {"stores": "store", "ports": "port", "stack": "SP left"}
        for filters in [["stores", "stack", "unimplemented"], ["ports"], []]:
            with self.subTest(filters=filters):
                client = Client(self)
                capabilities = client.ok("initialize", {"adapterID": "drovask"})
                self.assertEqual({f["filter"] for f in capabilities["exceptionBreakpointFilters"]},
                                 set(kinds) | {"unimplemented"})
                client.ok("launch", {"program": rom})
                client.ok("setExceptionBreakpoints", {"filters": filters})
                client.ok("configurationDone")
                for fault in [f for f in faults if any(kinds[k] in f for k in filters if k in kinds)]:
                    stop = client.wait_event("stopped")
                    self.assertEqual((stop["reason"], stop["description"]), ("exception", fault))
                    client.ok("continue", {"threadId": 1})
                if "unimplemented" in filters:
                    self.assertEqual(client.wait_event("stopped")["description"], failure)
                    top = client.ok("stackTrace", {"threadId": 1})["stackFrames"][0]
                    self.assertEqual(top["instructionPointerReference"], "0x0160")
                else:
                    client.wait_event("terminated")
                self.assertEqual([e["event"] for e in client.events if e["event"] == "stopped"], [])
                self.finish(client)
        client = Client(self)
        response = client.request("setExceptionBreakpoints", {"filters": ["everything"]})
        self.assertIn("no exception filter is named \"everything\"", response["message"])

    def test_going_back_lands_where_the_trace_says(self):
        client = self.start(stopOnEntry=True)
        call_line = self.line_of("CALL ADD_ONE")
        client.ok("setBreakpoints", {"source": {"path": SOURCE}, "breakpoints": [{"line": call_line}]})
        client.ok("configurationDone")
        client.wait_event("stopped")
        step = lambda command, count: [(client.ok(command, {"threadId": 1}),
                                        client.wait_event("stopped")) for _ in range(count)]
        # Forward to ADD_ONE's RET, then back over both RETs: INNER's RET again, three calls deep.
        step("stepIn", 12)
        step("stepBack", 3)
        self.expect_at(client, 9)
        lines = [f["line"] for f in client.ok("stackTrace", {"threadId": 1})["stackFrames"]]
        self.assertEqual(lines, [self.line_of("INNER:  NOP") + 1, self.line_of("CALL INNER"), call_line])
        times = []
        for _ in range(6):
            started = time.perf_counter()
            step("stepBack", 1)
            times.append((time.perf_counter() - started) * 1000)
        print("stepBack round trips: median %.2f ms, slowest %.2f ms" %
              (sorted(times)[len(times) // 2], max(times)))
        self.expect_at(client, 3)
        step("stepBack", 3)  # to power-on, and once more: as far as the history goes
        client.ok("stepBack", {"threadId": 1})
        self.assertIn("no further back", client.wait_event("stopped")["description"])

        # The breakpoint's first two hits, then back to each in turn, and past the first to the start.
        hits = [i for i, (address, _) in enumerate(self.trace) if address == self.address_of_line(call_line)][:2]
        for hit in hits:
            client.ok("continue", {"threadId": 1})
            self.expect_at(client, hit, "breakpoint")
        step("stepIn", 4)
        for hit in reversed(hits):
            client.ok("reverseContinue", {"threadId": 1})
            self.expect_at(client, hit, "breakpoint")
            self.assertEqual(len(client.ok("stackTrace", {"threadId": 1})["stackFrames"]), 1)
        client.ok("reverseContinue", {"threadId": 1})
        self.assertIn("no breakpoint before", client.wait_event("stopped")["description"])
        top = client.ok("stackTrace", {"threadId": 1})["stackFrames"][0]
        self.assertEqual(top["instructionPointerReference"], "0x0000")
        self.finish(client)

    def test_interrupts_are_frames_of_the_stack(self):
        trace = os.path.join(self.folder, "interrupts.txt")
        subprocess.run([RUN, self.rom, "--frames", "1", "--trace", trace], check=True)
        with open(trace) as text:
            interrupted = int(re.search(r"-- interrupt: RST 1 to 0008 from PC ([0-9A-F]{4})",
                                        text.read()).group(1), 16)
        client = self.start()
        client.ok("setFunctionBreakpoints", {"breakpoints": [{"name": "INTERRUPT"}]})
        client.ok("configurationDone")
        self.assertEqual(client.wait_event("stopped")["reason"], "function breakpoint")
        places = lambda: [int(f["instructionPointerReference"], 16)
                          for f in client.ok("stackTrace", {"threadId": 1})["stackFrames"]]
        inside = places()
        self.assertEqual(inside[:2], [0x0008, interrupted])
        client.ok("stepOut", {"threadId": 1})
        self.assertEqual(client.wait_event("stopped")["reason"], "step")
        self.assertEqual(places(), inside[1:])
        self.finish(client)

    def test_data_breakpoint_stops_on_the_stores_that_watch_reports(self):
        watch = subprocess.run([RUN, self.rom, "--frames", "1", "--watch", "0x2100",
                                "--symbols", self.symbols], check=True, capture_output=True,
                               text=True).stdout.splitlines()
        client = self.start()
        info = client.ok("dataBreakpointInfo", {"name": "COUNT"})
        self.assertEqual(info["accessTypes"], ["write"])
        client.ok("setDataBreakpoints", {"breakpoints": [{"dataId": info["dataId"],
                                                          "accessType": "write"}]})
        client.ok("configurationDone")
        for line in watch[:3]:
            match = re.match(r"watch: frame \d+, PC ([0-9A-F]{4}).*: 2100 \(COUNT\) .. -> (..)", line)
            stop = client.wait_event("stopped")
            self.assertEqual(stop["reason"], "data breakpoint")
            self.assertIn("by the instruction at 0x" + match.group(1), stop["description"])
            memory = client.ok("readMemory", {"memoryReference": "0x2100", "count": 1})
            self.assertEqual(base64.b64decode(memory["data"]).hex().upper(), match.group(2))
            client.ok("continue", {"threadId": 1})
        self.assertEqual(client.wait_event("stopped")["reason"], "data breakpoint")
        client.ok("setDataBreakpoints", {"breakpoints": []})
        client.ok("continue", {"threadId": 1})
        client.ok("pause", {"threadId": 1})  # heard while the machine runs
        self.assertEqual(client.wait_event("stopped")["reason"], "pause")
        # and while it looks back through a history with nothing to stop at
        client.ok("continue", {"threadId": 1})
        time.sleep(1)
        client.ok("pause", {"threadId": 1})
        client.wait_event("stopped")
        client.ok("reverseContinue", {"threadId": 1})
        client.ok("pause", {"threadId": 1})
        self.assertEqual(client.wait_event("stopped")["reason"], "pause")
        self.finish(client)

    def test_an_editor_may_connect_to_a_port_instead(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        process = subprocess.Popen([DAP, "--port", str(port)], stderr=subprocess.PIPE)
        self.addCleanup(process.stderr.close)
        self.assertIn(b"waiting for an editor", process.stderr.readline())
        with socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT) as connection:
            for seq, command in enumerate(["initialize", "disconnect"], 1):
                body = json.dumps({"seq": seq, "type": "request", "command": command}).encode()
                connection.sendall(b"Content-Length: %d\r\n\r\n" % len(body) + body)
            self.assertEqual(process.wait(TIMEOUT), 0)
            answers = b""
            while chunk := connection.recv(65536):
                answers += chunk
        self.assertIn(b'"command":"initialize","success":true', answers)
        self.assertIn(b'"command":"disconnect","success":true', answers)

    def test_memory_disassembly_and_expressions_agree_with_the_tools(self):
        store_line = self.line_of("STA COUNT")
        store = self.address_of_line(store_line)
        state = os.path.join(self.folder, "state.txt")
        subprocess.run([RUN, self.rom, "--frames", "1", "--break", "%04XH" % store,
                        "--state", state], check=True, capture_output=True)
        ram = {}
        with open(state) as text:
            state_lines = text.read().splitlines()
        for line in state_lines:
            match = re.match(r"([0-9A-F]{4}):((?: [0-9A-F]{2})+)$", line.strip())
            if match:
                ram[int(match.group(1), 16)] = bytes.fromhex(match.group(2))
        client = self.start()
        client.ok("setFunctionBreakpoints", {"breakpoints": [{"name": "LOOP+6"}]})
        client.ok("configurationDone")
        self.assertEqual(client.wait_event("stopped")["reason"], "function breakpoint")
        for address, expected in sorted(ram.items()):
            memory = client.ok("readMemory", {"memoryReference": "0x%04X" % address,
                                              "count": len(expected)})
            self.assertEqual(base64.b64decode(memory["data"]), expected, "%04X" % address)

        listing = subprocess.run([DIS8080, self.rom, "--symbols", self.symbols, "--from", "0",
                                  "--to", "2AH"], check=True, capture_output=True, text=True).stdout
        expected = [(int(m.group(2), 16), m.group(1).strip())
                    for m in re.finditer(r"^        (\S.*?)\s*; ([0-9A-F]{4})  ", listing, re.M)]
        got = client.ok("disassemble", {"memoryReference": "0x0000",
                                        "instructionCount": len(expected)})["instructions"]
        self.assertEqual([(int(i["address"], 16), i["instruction"]) for i in got], expected)
        back = client.ok("disassemble", {"memoryReference": "0x%04X" % store,
                                         "instructionOffset": -2, "instructionCount": 3})
        self.assertEqual([i["instruction"] for i in back["instructions"]],
                         ["LDA 2100H", "CALL ADD_ONE", "STA 2100H"])
        self.assertEqual(back["instructions"][2]["line"], store_line)

        evaluate = lambda text: client.ok("evaluate", {"expression": text, "context": "repl"})["result"]
        value = lambda text: int(evaluate(text).split()[0], 16)
        self.assertEqual(value("COUNT"), 0x2100)
        self.assertEqual(value("[HL]"), ram[0x2100][0])
        self.assertEqual(value("loop + 6"), store)
        self.assertEqual(value("(HL - 1) + 2"), 0x2101)
        client.ok("setVariable", {"variablesReference": 1, "name": "A", "value": "42H"})
        client.ok("setVariable", {"variablesReference": 2, "name": "CY", "value": "1"})
        self.assertTrue(registers_of(client).startswith("A=42 "))
        self.assertTrue(registers_of(client).endswith(" CY=1"))
        client.ok("writeMemory", {"memoryReference": "0x2200", "data": base64.b64encode(b"\x01\x02\x03").decode()})
        self.assertEqual(client.ok("readMemory", {"memoryReference": "0x21FF", "count": 5})["data"],
                         base64.b64encode(b"\x00\x01\x02\x03\x00").decode())
        self.finish(client)

    def test_bad_messages_get_error_responses_and_the_adapter_goes_on(self):
        picture = os.path.join(self.folder, "entry.png")
        client = self.start(stopOnEntry=True, picture=picture)
        client.ok("configurationDone")
        self.assertEqual(client.wait_event("stopped")["reason"], "entry")
        client.ok("stepIn", {"threadId": 1})
        self.assertEqual(client.wait_event("stopped")["reason"], "step")
        self.assertEqual(client.log[-4:], ["configurationDone", "stopped", "stepIn", "stopped"])
        with open(picture, "rb") as png:
            self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        bad = [
            ("malformed JSON", b'{"seq": 1, "type": "request", "command": ', "malformed JSON"),
            ("not an object", b"[1, 2]", "a message is a JSON object"),
            ("not a request", b'{"seq": 2, "type": "event", "event": "x"}', "only requests"),
            ("no command", b'{"seq": 3, "type": "request"}', "names its command"),
            ("an unknown request", b'{"seq": 4, "type": "request", "command": "fly"}',
             "unknown request 'fly'"),
            ("arguments not an object",
             b'{"seq": 5, "type": "request", "command": "next", "arguments": 3}', "not an object"),
            ("a missing argument", b'{"seq": 6, "type": "request", "command": "readMemory", '
             b'"arguments": {"count": 4}}', "'memoryReference' is missing"),
            ("a wrong type", b'{"seq": 7, "type": "request", "command": "readMemory", '
             b'"arguments": {"memoryReference": "0x0000", "count": "four"}}', "'count' is not a whole"),
            ("an unknown symbol", b'{"seq": 8, "type": "request", "command": "evaluate", '
             b'"arguments": {"expression": "NOWHERE"}}', "no register or symbol is named 'NOWHERE'"),
            ("a broken expression", b'{"seq": 9, "type": "request", "command": "evaluate", '
             b'"arguments": {"expression": "[HL"}}', "expected ']'"),
            ("bad base64", b'{"seq": 10, "type": "request", "command": "writeMemory", '
             b'"arguments": {"memoryReference": "0", "data": "!!"}}', "not base64"),
            ("past the end of memory", b'{"seq": 11, "type": "request", "command": "writeMemory", '
             b'"arguments": {"memoryReference": "0xFFFF", "data": "AAAA"}}', "outside the 64 KiB"),
            ("an unknown register", b'{"seq": 12, "type": "request", "command": "setVariable", '
             b'"arguments": {"variablesReference": 1, "name": "Q", "value": "1"}}', "named 'Q'"),
            ("a second launch", b'{"seq": 13, "type": "request", "command": "launch", '
             b'"arguments": {"program": "x.bin"}}', "running already"),
            ("a bad data breakpoint", b'{"seq": 14, "type": "request", "command": '
             b'"setDataBreakpoints", "arguments": {"breakpoints": [{"dataId": "2100"}]}}', "0xADDR:LENGTH"),
            ("a deep nesting", b"[" * 100 + b"]" * 100, "nested more than 64 deep"),
            ("out of no call", b'{"seq": 15, "type": "request", "command": "stepOut"}',
             "no call to return from"),
        ]
        for name, body, message in bad:
            with self.subTest(name):
                response = client.request(None, body=body)
                self.assertFalse(response["success"])
                self.assertIn(message, response["message"])
        self.assertEqual(client.ok("threads")["threads"][0]["id"], 1)
        self.finish(client)

    def test_launch_refuses_what_it_cannot_run(self):
        broken = os.path.join(self.folder, "broken.asm")
        with open(broken, "w") as source:
            source.write("        JMP NOWHERE\n")
        for name, arguments, message in [
            ("no program", {}, "'program' is missing"),
            ("a missing ROM", {"program": os.path.join(self.folder, "none.bin")}, "none.bin"),
            ("a source with errors", {"program": broken}, "broken.asm:1"),
            ("a missing key script", {"program": SOURCE, "keys": os.path.join(self.folder, "none.keys")},
             "none.keys"),
        ]:
            with self.subTest(name):
                client = Client(self)
                client.ok("initialize", {"adapterID": "drovask"})
                response = client.request("launch", arguments)
                self.assertFalse(response["success"])
                self.assertIn(message, response["message"])
                self.assertFalse(client.request("stackTrace", {"threadId": 1})["success"])
                self.finish(client)

    def test_broken_frames_end_the_adapter_with_a_message(self):
        for name, data, message in [
            ("a length that is no number", b"Content-Length: ten\r\n\r\n{}", "not a number"),
            ("no length", b"Content-Type: json\r\n\r\n{}", "without Content-Length"),
            ("a header that never ends", b"Content-Length: 2" + b" " * 9000, "header longer"),
            ("input cut inside a body", b"Content-Length: 50\r\n\r\n{}", "ended inside a message"),
        ]:
            with self.subTest(name):
                client = Client(self)
                client.send_raw(data)
                client.process.stdin.close()
                self.assertEqual(client.process.wait(TIMEOUT), 1)
                self.assertIn(message, client.process.stderr.read().decode())


class Extension(unittest.TestCase):
    """The editor extension's manifest and grammar against the adapter and the disassembler."""

    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "editors",
                          "vscode")

    def load(self, name):
        with open(os.path.join(self.folder, name)) as text:
            return json.load(text)

    def test_the_launch_attributes_are_those_the_adapter_reads(self):
        usage = subprocess.run([DAP, "--help"], check=True, capture_output=True, text=True).stdout
        arguments = usage.split("The launch request's arguments:")[1].split("\n")
        named = set()
        for line in arguments:
            match = re.match(r"  (\w+(?:, \w+)*)  ", line)
            if match:
                named.update(match.group(1).split(", "))
        manifest = self.load("package.json")
        debugger = manifest["contributes"]["debuggers"][0]
        self.assertEqual(set(debugger["configurationAttributes"]["launch"]["properties"]), named)
        for path in [manifest["main"], manifest["contributes"]["languages"][0]["configuration"],
                     manifest["contributes"]["grammars"][0]["path"]]:
            self.assertTrue(os.path.isfile(os.path.join(self.folder, path)), path)

    def test_every_mnemonic_the_disassembler_writes_is_highlighted(self):
        image = os.path.join(tempfile.mkdtemp(prefix="dap-grammar-"), "all.bin")
        with open(image, "wb") as all_opcodes:
            all_opcodes.write(bytes(b for opcode in range(256) for b in (opcode, 0, 0)))
        listing = subprocess.run([DIS8080, image], check=True, capture_output=True,
                                 text=True).stdout
        mnemonics = set(re.findall(r"^        ([A-Z]+)\b", listing, re.M)) - {"ORG", "DB"}
        self.assertGreater(len(mnemonics), 70)
        patterns = {p["name"]: p["match"] for p in self.load("syntaxes/asm8080.tmLanguage.json")["patterns"]}
        instruction = re.compile(patterns["keyword.other.instruction.asm8080"])
        for mnemonic in sorted(mnemonics):
            self.assertTrue(instruction.fullmatch(mnemonic.lower()), mnemonic)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
