#!/usr/bin/env python3
"""End-to-end tests of workbench through its console backend.

Usage: test_workbench.py WORKBENCH_BINARY [unittest options]
Results are checked independently with Python's integers, sha256sum and openssl.
"""
import decimal
import hashlib
import os
import pty
import random
import queue
import re
import signal
import subprocess
import sys
import threading
import time
import unittest

WORKBENCH = None

A, B, C, RESULT, CAPTION, TIME, STATUS = 1004, 1006, 1008, 1009, 1011, 1017, 1022


class Output:
    """Output lines of the program and helpers to read them."""

    def __init__(self, lines):
        self.lines = lines

    def texts(self, control):
        """Every text printed for a control, in order."""
        prefix = "[%d] " % control
        return [line[len(prefix):] for line in self.lines if line.startswith(prefix)]

    def last(self, control):
        texts = self.texts(control)
        return texts[-1] if texts else None

    def messages(self):
        return [line[2:] for line in self.lines if line.startswith("! ")]

    def prompts(self):
        return [line[2:] for line in self.lines if line.startswith("? ")]


class Run(Output):
    """One run of the program fed a script; keeps its output and exit code."""

    def __init__(self, script, timeout=60):
        text = "\n".join(script) + "\n"
        proc = subprocess.run([WORKBENCH, "--console"], input=text.encode("utf-8"),
                              capture_output=True, timeout=timeout)
        self.code = proc.returncode
        self.stderr = proc.stderr.decode("utf-8", "replace")
        lines = proc.stdout.decode("utf-8", "replace").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        super().__init__(lines)


_labels = None


def labels():
    """The operation list as the program shows it (console "show 1001"), read once."""
    global _labels
    if _labels is None:
        _labels = Run(["show 1001"]).texts(1001)
    return _labels


def calc(label, a="0", b="0", c="0", answers=()):
    """Script lines: choose an operation, fill the fields, calculate, answer the prompts."""
    return ["select 1001 " + label, "set 1004 " + a, "set 1006 " + b, "set 1008 " + c,
            "press 1019", *answers]


def caption(digits):
    return "Result ( %d decimal digits)" % digits


def shown_bytes(text):
    """The bytes behind a field text: hexadecimal after "hex: ", else the text itself."""
    if text.startswith("hex: "):
        return bytes.fromhex(text[5:])
    return text.encode("utf-8")


def time_value(text):
    return float(text)


ACCEPTED = ("Enter a whole number >= 0 in the digits 0 to 9 only, without sign, point, "
            "separators or exponent.")


class StartAndEnd(unittest.TestCase):
    def test_initial_dialog(self):
        run = Run(["show"])
        self.assertEqual(run.code, 0)
        self.assertFalse(any(entry.startswith("* ") for entry in run.texts(1001)))
        for field in (A, B, C):
            self.assertEqual(run.last(field), "0")
        self.assertEqual(run.last(1014), "120")
        self.assertEqual(run.last(TIME), "1000 seconds")
        self.assertEqual(run.last(CAPTION), "Result")
        self.assertEqual(run.last(RESULT), "")
        self.assertEqual(run.last(STATUS), "")
        self.assertEqual(run.last(1005), "Parameter 'a'")
        self.assertEqual(run.last(1019), "&Calculate")

    def test_every_entry_is_an_operation(self):
        # 28 entries, the separator 20th; every other entry starts its own operation (a
        # prompt is cancelled, which each operation takes as 0 or empty).
        entries = labels()
        self.assertEqual(len(entries), 28)
        self.assertEqual(len(set(entries)), 28)
        self.assertEqual(entries.index("-" * 20), 19)
        for label in entries:
            with self.subTest(label=label):
                run = Run(calc(label, "5", "3", "7", ["<cancel>"] * 3) + ["show 1022"])
                unknown = "Unknown operation.." in run.messages()
                self.assertEqual(unknown, label == "-" * 20)
                self.assertEqual(run.last(STATUS), "")

    def test_close_exits_zero(self):
        run = Run(["close", "press 1019"])
        self.assertEqual(run.code, 0)
        self.assertEqual(run.lines, [])

    def test_exit_button_exits_zero(self):
        run = Run(["press 1020", "show 1009"])
        self.assertEqual(run.code, 0)
        self.assertEqual(run.lines, [])

    def test_calculate_without_selection(self):
        run = Run(["press 1019", "show 1017", "show 1011"])
        self.assertEqual(run.messages(), ["Select an operation first..."])
        self.assertEqual(run.last(TIME), "1000 seconds")
        self.assertEqual(run.last(CAPTION), "Result")


class Arithmetic(unittest.TestCase):
    BIG1 = 123456789012345678901234567890123456789
    BIG2 = 987654321098765432109876543210

    # (label, a, b, c, expected result, expected messages, expected text of field c)
    CASES = [
        ("a + b", BIG1, BIG2, 0, BIG1 + BIG2, [], None),
        ("a + b", 0, 0, 0, 0, [], None),
        ("a - b", BIG1, BIG2, 0, BIG1 - BIG2, [], None),
        ("a - b", 7, 7, 0, 0, [], None),
        ("a - b", 5, 12, 0, 7, ["a < b. Result will be negative (sign not shown)..."], None),
        ("a * b", BIG1, BIG2, 0, BIG1 * BIG2, [], None),
        ("a * b", BIG1, 0, 0, 0, [], None),
        ("a * 2", BIG1, 0, 0, 2 * BIG1, [], None),
        ("a \\ b", BIG1, BIG2, 0, BIG1 // BIG2, [], "Remainder: %d" % (BIG1 % BIG2)),
        ("a \\ b", 3, 7, 0, 0, [], "Remainder: 3"),
        ("a \\ b", 9, 9, 0, 1, [], "Remainder: 0"),
        ("a \\ 2", 65537, 0, 0, 32768, [], "Remainder: 1"),
        ("a \\ 2", 0, 0, 0, 0, [], "Remainder: 0"),
        ("a ^ b", 3, 200, 0, 3 ** 200, [], None),
        ("a ^ b", 0, 0, 0, 1, [], None),
        ("a ^ b", 1, 10 ** 30, 0, 1, [], None),
        ("a mod b", BIG1, BIG2, 0, BIG1 % BIG2, [], None),
        ("a mod b", 5, 9, 0, 5, [], None),
        ("a ^ b mod c", BIG1, BIG2, 1000000007, pow(BIG1, BIG2, 1000000007), [], None),
        ("a ^ b mod c", 5, 3, 1, 0, [], None),
        ("a ^ -1 mod b", 3, 1000000007, 0, pow(3, -1, 1000000007), [], None),
        ("a ^ -1 mod b", BIG2, 2 ** 127 - 1, 0, pow(BIG2, -1, 2 ** 127 - 1), [], None),
        ("GCD a, b", 2 ** 40 * 3, 2 ** 35 * 9, 0, 2 ** 35 * 3, [], None),
        ("GCD a, b", 0, 12, 0, 12, [], None),
    ]

    def test_results_in_register_9(self):
        for label, a, b, c, expected, messages, field_c in self.CASES:
            with self.subTest(label=label, a=a, b=b, c=c):
                run = Run(calc(label, str(a), str(b), str(c)) + ["show"])
                self.assertEqual(run.code, 0)
                self.assertEqual(run.messages(), messages)
                self.assertEqual(run.last(RESULT), str(expected))
                self.assertEqual(run.last(CAPTION), caption(len(str(expected))))
                self.assertEqual(run.last(STATUS), "")
                self.assertGreaterEqual(time_value(run.last(TIME)), 0.0)
                self.assertIn("Calculating...", run.texts(STATUS))
                self.assertIn("Preparing result", run.texts(STATUS))
                self.assertIn("Preparing result to display. May take a while...", run.texts(RESULT))
                self.assertEqual(run.last(C).replace("(hidden) ", ""),
                                 field_c if field_c is not None else str(c))

    def test_caption_counts_digits(self):
        run = Run(calc("a + b", "65535", "1") + ["show 1011", "show 1009"])
        self.assertEqual(run.last(RESULT), "65536")
        self.assertEqual(run.last(CAPTION), "Result ( 5 decimal digits)")
        run = Run(calc("a + b", "4", "5") + ["show 1011"])
        self.assertEqual(run.last(CAPTION), "Result ( 1 decimal digits)")

    def test_failures_show_no_earlier_number(self):
        # After 65535 + 1, every kind of failure, and every operation whose outputs are in the
        # fields, ends with an empty result field under "Result": 65536 is never shown again.
        # (label, a, b, c, answers, messages; None: any one message)
        for label, a, b, c, answers, messages in [
            ("a \\ b", "10", "0", "0", [], ["Division by zero!"]),
            ("a mod b", "10", "0", "0", [], ["Division by zero!"]),
            ("a ^ b mod c", "10", "3", "0", [], ["C parameter must not be zero!"]),
            ("-" * 20, "1", "2", "3", [], ["Unknown operation.."]),
            ("a ^ -1 mod b", "6", "9", "0", [], ["No result: GCD(a,b) <> 1 !"]),
            ("a ^ -1 mod b", "5", "0", "0", [],
             ["a ^ -1 mod b failed: division by zero or a zero modulus."]),
            ("a ^ b", "2", "1000000000000", "0", [], None),   # beyond the library's limit
            ("a + b", "-5", "1", "0", [], None),              # refused before it starts
            ("Generate prime number", "0", "0", "0", ["600", ""], None),
            ("Generate RSA public key", "0", "0", "0", ["64"], []),
            ("RSA encrypt/decrypt data", "0", "0", "0", ["64", "x" * 20], ["Message is too long!!"]),
            ("AES encrypt/decrypt data", "0", "0", "0", ["text", "key", "key"], []),
            ("SHA-256 hash algorithm", "abc", "0", "0", [], []),
        ]:
            with self.subTest(label=label, a=a, b=b):
                first = calc("a + b", "65535", "1")
                run = Run(first + calc(label, a, b, c, answers) + ["show"])
                after = Output(run.lines[run.lines.index("[1009] 65536") + 1:])
                if messages is None:
                    self.assertEqual(len(after.messages()), 1)
                else:
                    self.assertEqual(after.messages(), messages)
                self.assertNotIn("65536", after.texts(RESULT))
                self.assertEqual(run.last(RESULT), "")
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertEqual(run.last(STATUS), "")
                if label == "a \\ b":
                    self.assertEqual(run.last(C), "0")

    def test_remainder_text_goes_back_as_parameter_c(self):
        # After "a \ b" field c reads "Remainder: 1"; "a ^ b mod c" uses c and refuses it.
        run = Run(calc("a \\ b", "7", "2") + ["select 1001 a ^ b mod c", "press 1019", "show 1009"])
        self.assertEqual(run.texts(C)[-1], "Remainder: 1")
        self.assertEqual(run.messages(), [
            "Parameter 'c' has 'R' at position 1, which is not a digit. " + ACCEPTED])
        self.assertEqual(run.last(RESULT), "")


class Verdicts(unittest.TestCase):
    # (label, a, b, answers to prompts, verdict)
    CASES = [
        ("a = 0?", "0", "5", [], "a = 0"),
        ("a = 0?", "1", "0", [], "a <> 0"),
        ("a < b?", "3", "4", [], "a < b"),
        ("a < b?", "4", "4", [], "a >= b"),
        ("a < b?", "5", "4", [], "a >= b"),
        ("a is odd?", "12345678901234567891", "0", [], "a is odd"),
        ("a is odd?", "0", "0", [], "a is even"),
        ("a is prime? (Div. lower primes)", "7919", "0", [], "a is possibly a prime.."),
        ("a is prime? (Div. lower primes)", "7917", "0", [], "a is definitely NOT prime"),
        ("a is prime? (Div. lower primes)", "1", "0", [], "a is definitely NOT prime"),
        ("a is prime? (Slow, 100%)", str(2 ** 127 - 1), "0", [], "a is definitely a prime.."),
        ("a is prime? (Slow, 100%)", str((2 ** 61 - 1) * (2 ** 89 - 1)), "0", [],
         "a is definitely NOT prime"),
        ("a is prime? (Slow, 100%)", "0", "0", [], "a is definitely NOT prime"),
        ("a is prime? (Fermat, <>100%)", str(2 ** 89 - 1), "0", [""], "a is possibly a prime.."),
        ("a is prime? (Fermat, <>100%)", str(2 ** 64 + 1), "0", ["20"], "a is definitely NOT prime"),
        ("a is prime? (Fermat, <>100%)", "97", "0", ["<cancel>"], "a is possibly a prime.."),
        ("a is prime? (Rabin-Miller, <>100%)", str(2 ** 107 - 1), "0", ["-3"],
         "a is possibly a prime.."),
        ("a is prime? (Rabin-Miller, <>100%)", "3215031751", "0", ["10"],
         "a is definitely NOT prime"),
        ("a, b relative primes?", "35", "12", [], "a and b are relative primes"),
        ("a, b relative primes?", "35", "21", [], "a and b are NOT relative primes"),
    ]

    def test_verdicts(self):
        for label, a, b, answers, verdict in self.CASES:
            with self.subTest(label=label, a=a):
                run = Run(calc(label, a, b, "0", answers) + ["show"])
                self.assertEqual(run.code, 0)
                self.assertEqual(run.last(RESULT), verdict)
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertEqual(run.last(STATUS), "")
                self.assertNotEqual(run.last(TIME), "1000 seconds")
                self.assertGreaterEqual(time_value(run.last(TIME)), 0.0)
                if "Fermat" in label:
                    self.assertEqual(run.prompts(),
                                     ["Number of tests to be performed by Fermat test [1-100] [5]"])
                if "Rabin" in label:
                    self.assertEqual(run.prompts(), [
                        "Number of tests to be performed by Rabin-Miller test [1-100] [5]"])


class Parameters(unittest.TestCase):
    # label -> (a, b, c): None hidden, else the label shown
    PA, PB, PC = "Parameter 'a'", "Parameter 'b'", "Parameter 'c'"
    SETUPS = {
        "a + b": (PA, PB, None), "a ^ -1 mod b": (PA, PB, None),
        "a, b relative primes?": (PA, PB, None), "a < b?": (PA, PB, None),
        "a * 2": (PA, None, None), "a is prime? (Slow, 100%)": (PA, None, None),
        "a \\ 2": (PA, None, PC), "a \\ b": (PA, PB, PC), "a ^ b mod c": (PA, PB, PC),
        "Generate prime number": (None, None, None),
        "Generate BBS random number": (None, None, None),
        "Generate RSA public key": ("Modulus n", "Public key e", "Private key d"),
        "RSA encrypt/decrypt data": ("Plaintext", "Encrypted text", "Decrypted text"),
        "AES encrypt/decrypt data": ("Plaintext", "Encrypted text", "Decrypted text"),
        "SHA-256 hash algorithm": ("Text", "Hash value", None),
        "-" * 20: (PA, PB, PC),
    }

    def test_field_setup_table(self):
        for label, looks in self.SETUPS.items():
            with self.subTest(label=label):
                # Start from another look, so that every change shows.
                run = Run(["select 1001 Generate RSA public key", "set 1004 41", "set 1009 old",
                           "select 1001 " + label, "show"])
                for field, label_id, look, text in zip((A, B, C), (1005, 1007, 1010), looks,
                                                       ("41", "0", "0")):
                    if look is None:
                        self.assertEqual(run.last(field), "(hidden) " + text)
                        self.assertTrue(run.last(label_id).startswith("(hidden) "))
                    else:
                        self.assertEqual(run.last(field), text)
                        self.assertEqual(run.last(label_id), look)
                self.assertEqual(run.last(RESULT), "")

    def test_setup_keeps_caption_and_time(self):
        run = Run(calc("a + b", "65535", "1") + ["select 1001 a * 2", "show"])
        self.assertEqual(run.last(RESULT), "")
        self.assertEqual(run.last(CAPTION), caption(5))
        self.assertNotEqual(run.last(TIME), "1000 seconds")

    def random_fields(self, bitlength, presses=1):
        run = Run(["select 1001 SHA-256 hash algorithm", "set 1014 " + bitlength] +
                  ["press 1012", "show 1004", "show 1006", "show 1008"] * presses + ["show"])
        self.assertEqual(run.messages(), [])
        self.assertEqual(run.last(TIME), "1000 seconds")
        self.assertEqual(run.last(CAPTION), "Result")
        values = []
        for field in (A, B, C):
            values += [int(t.replace("(hidden) ", "")) for t in run.texts(field)[1:]]
        return values

    def test_random_parameters_bit_lengths(self):
        # 12.5 rounds to 12 bits, 13.5 to 14 (ties to even); field c is filled though hidden.
        twelve = self.random_fields("12.5", presses=5)
        self.assertEqual(len(twelve), 30)
        self.assertTrue(all(256 <= v < 2 ** 12 for v in twelve), twelve)
        fourteen = self.random_fields("13.5", presses=5)
        self.assertTrue(all(256 <= v < 2 ** 14 for v in fourteen), fourteen)
        self.assertTrue(any(v >= 2 ** 12 for v in fourteen), fourteen)
        for bitlength, low, high in [("120", 2 ** 112, 2 ** 120), ("8", 1, 256)]:
            self.assertTrue(all(low <= v < high for v in self.random_fields(bitlength)))

    def test_random_parameters_refused_bit_length(self):
        for bitlength in ("abc", "0", "-8"):
            with self.subTest(bitlength=bitlength):
                run = Run(["set 1014 " + bitlength, "press 1012", "show"])
                self.assertEqual(len(run.messages()), 1)
                self.assertIn("failed", run.messages()[0])
                self.assertEqual([run.last(f) for f in (A, B, C)], ["0", "0", "0"])

    def test_clear_commands(self):
        run = Run(calc("a + b", "65535", "1") +
                  ["press 1016", "show"])
        self.assertEqual([run.last(f) for f in (A, B, C, RESULT)], ["", "", "(hidden) ", ""])
        self.assertEqual(run.last(CAPTION), caption(5))
        run = Run(calc("a + b", "65535", "1") + ["press 1023", "show"])
        self.assertEqual(run.last(RESULT), "")
        self.assertEqual(run.last(A), "65535")
        self.assertEqual(run.last(CAPTION), caption(5))


class Mends(unittest.TestCase):
    def test_messages_for_bad_numbers(self):
        # Each says which field, what is wrong there and what is accepted. (A console line
        # holds no line break: a number across two lines is tried in the window's test.)
        p = "Parameter 'a' "
        for a, b, message in [
            ("12x", "3", p + "has 'x' at position 3, which is not a digit."),
            ("12", "", "Parameter 'b' is empty."),
            ("   ", "3", p + "is empty."),
            ("-5", "3", p + "starts with the sign '-'."),
            (" +5", "3", p + "starts with the sign '+'."),
            ("abc", "3", p + "has 'a' at position 1, which is not a digit."),
            ("1,000", "3", p + "has ',' at position 2, which is not a digit."),
            ("0x10", "3", p + "has 'x' at position 2, which is not a digit."),
            ("1e3", "3", p + "has 'e' at position 2, which is not a digit."),
            ("1.5", "3", p + "has '.' at position 2, which is not a digit."),
            ("12 34", "3", p + "has a blank at position 3, which is not a digit."),
            ("4\uff15", "3", p + "has '\uff15' (U+FF15) at position 2, which is not a digit."),
            ("\u00e9", "3", p + "has '\u00e9' (U+00E9) at position 1, which is not a digit."),
            ("1\t2", "3", p + "has the control character U+0009 at position 2, which is not a digit."),
        ]:
            with self.subTest(a=a, b=b):
                run = Run(calc("a + b", "1", "1") +
                          ["set 1004 " + a, "set 1006 " + b, "press 1019", "show"])
                self.assertEqual(run.messages(), [message + " " + ACCEPTED])
                self.assertEqual(run.last(RESULT), "")
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertEqual(run.last(STATUS), "")

    def test_white_space_and_unused_fields(self):
        run = Run(calc("a * 2", " 21\t", "no number", "junk") + ["show 1009"])
        self.assertEqual(run.messages(), [])
        self.assertEqual(run.last(RESULT), "42")

    def test_power_too_large(self):
        run = Run(calc("a + b", "2", "3") + calc("a ^ b", "2", "1000000000000") + ["show"])
        self.assertEqual(run.code, 0)
        self.assertEqual(len(run.messages()), 1)
        self.assertIn("a ^ b failed", run.messages()[0])
        self.assertIn("268435456 bits", run.messages()[0])
        self.assertEqual(run.last(STATUS), "")
        self.assertEqual(run.last(RESULT), "")

    def test_inverse_modulo_zero(self):
        run = Run(calc("a + b", "2", "3") + calc("a ^ -1 mod b", "5", "0") + ["show"])
        self.assertEqual(run.messages(),
                         ["a ^ -1 mod b failed: division by zero or a zero modulus."])
        self.assertEqual(run.last(RESULT), "")
        self.assertEqual(run.last(CAPTION), "Result")

    def test_long_result(self):
        exponent = 10 ** 7
        run = Run(calc("a ^ b", "3", str(exponent)) + ["show 1011"], timeout=60)
        text = run.last(RESULT)
        decimal.getcontext().prec = 50
        log = decimal.Decimal(exponent) * decimal.Decimal(3).log10()
        digits = int(log) + 1
        self.assertEqual(run.last(CAPTION), caption(digits))
        self.assertEqual(len(text), digits)
        self.assertEqual(int(text[-30:]), pow(3, exponent, 10 ** 30))
        leading = int(decimal.Decimal(10) ** (log - int(log) + 14))
        self.assertLessEqual(abs(int(text[:15]) - leading), 1)
        # the result field's text is set once after the progress text
        self.assertEqual(len([t for t in run.texts(RESULT) if len(t) > 1000]), 1)

    def test_time_leaves_out_slow_answers(self):
        # Answers come 1 s after each prompt; the time shown is the computation's alone.
        for label, a, answers in [("a is prime? (Fermat, <>100%)", "97", ["5"]),
                                  ("AES encrypt/decrypt data", "0", ["text", "key", "key"]),
                                  ("Generate RSA public key", "0", ["64"])]:
            with self.subTest(label=label):
                proc = subprocess.Popen([WORKBENCH, "--console"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
                lines = []
                proc.stdin.write("\n".join(calc(label, a)) + "\n")
                proc.stdin.flush()
                for answer in answers:
                    while not (line := proc.stdout.readline()).startswith("? "):
                        self.assertTrue(line, "the program ended before its prompt")
                        lines.append(line.rstrip("\n"))
                    time.sleep(1.0)
                    proc.stdin.write(answer + "\n")
                    proc.stdin.flush()
                rest, _ = proc.communicate("show 1017\n", timeout=60)
                run = Output(lines + rest.split("\n"))
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertLess(time_value(run.last(TIME)), 0.5 * len(answers))

    def test_time_is_never_negative(self):
        script = []
        for _ in range(20):
            script += calc("a + b", "1", "2") + ["show 1017"]
        run = Run(script)
        times = [time_value(t) for t in run.texts(TIME)]
        self.assertEqual(len(times), 40)
        self.assertTrue(all(t >= 0.0 for t in times), times)


class Terminal:
    """The program at a pseudo-terminal, as a person types to it."""

    def __init__(self):
        master, slave = pty.openpty()
        self.master = master
        self.proc = subprocess.Popen([WORKBENCH, "--console"], stdin=slave, stdout=slave,
                                     stderr=slave, env=dict(os.environ, TERM="xterm"))
        os.close(slave)
        self.output = b""
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while True:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            if not chunk:
                return
            with self.lock:
                self.output += chunk

    def text(self):
        with self.lock:
            return self.output.decode("utf-8", "replace").replace("\r", "")

    def wait_for(self, pattern, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = re.search(pattern, self.text())
            if found:
                return found
            time.sleep(0.02)
        raise AssertionError("no %r in the terminal's output:\n%s" % (pattern, self.text()[-2000:]))

    def type(self, line):
        data = (line + "\r").encode("utf-8")
        for at in range(0, len(data), 512):   # as a paste arrives: in pieces
            os.write(self.master, data[at:at + 512])
            time.sleep(0.01)

    def command(self, line):
        """Types a line once the program waits for one, as a person does, and waits for the
        program to be ready again."""
        prompts = len(re.findall(r"(?m)^> ", self.text()))
        self.type(line)
        deadline = time.monotonic() + 60
        while len(re.findall(r"(?m)^> ", self.text())) <= prompts:
            self.assert_running(deadline)
        while not self.text().endswith("> "):
            self.assert_running(deadline)

    def assert_running(self, deadline):
        if time.monotonic() > deadline:
            raise AssertionError("no prompt after the command:\n" + self.text()[-2000:])
        time.sleep(0.02)

    def end(self):
        self.type("close")
        code = self.proc.wait(timeout=30)
        os.close(self.master)
        return code


class AtATerminal(unittest.TestCase):
    def test_greeting_help_and_commands_in_any_case(self):
        term = Terminal()
        term.wait_for(r"workbench in the console: type help for the commands and controls")
        term.command("HELP")
        term.wait_for(r"  1019  button  Calculate\n")
        help_text = term.text()
        self.assertIn("  1004  field   Parameter 'a'\n", help_text)
        self.assertIn("  a is prime? (Rabin-Miller, <>100%)\n", help_text)   # the operations
        self.assertNotIn("&", help_text)
        for line in ("  Select 1001 A+B  ", "SET 1004 40", "set 1006 2", "Press 1019"):
            term.command(line)
        term.wait_for(r"\[1009\] 42\n")
        term.command("select 1001 a plus b")
        term.wait_for(r"no entry 'a plus b' in list 1001; its entries:\n(console:   .*\n){28}")
        self.assertEqual(term.end(), 0)
        self.assertEqual(term.text().count("workbench in the console"), 1)

    def test_a_5000_digit_line_arrives_whole(self):
        sys.set_int_max_str_digits(0)
        digits = "9876543210" * 500   # 5001 digits with the leading 1 below
        term = Terminal()
        term.wait_for(r"type help")
        term.command("select 1001 a * 2")
        term.command("set 1004 1" + digits)
        term.type("press 1019")
        result = term.wait_for(r"\[1009\] (\d{100,})\n").group(1)
        self.assertEqual(int(result), 2 * int("1" + digits))
        self.assertEqual(term.end(), 0)

    def test_passphrase_is_not_echoed(self):
        term = Terminal()
        term.wait_for(r"type help")
        term.command("select 1001 AES encrypt/decrypt data")
        term.type("press 1019")
        term.wait_for(r"\? Enter a string")
        term.type("plain words")
        for way in ("en", "de"):
            term.wait_for(r"\? Enter a passphrase to %scrypt the string \[\]\n[^\n]*> $" % way)
            term.type("Sesame1234")
        term.wait_for(r"\[1008\] plain words\n")
        self.assertEqual(term.end(), 0)
        self.assertNotIn("Sesame1234", term.text())
        self.assertIn("plain words", term.text())


class KeysAndCiphers(unittest.TestCase):
    def test_generate_prime(self):
        run = Run(calc("Generate prime number", answers=["16", "7"]) + ["show"])
        self.assertEqual(run.prompts(), [
            "Enter the length of the prime number to be generated (in bytes) [100]",
            "Number of tests to be performed by Rabin-Miller test [2-15] [5]"])
        prime = int(run.last(RESULT))
        self.assertEqual(prime.bit_length(), 128)
        check = subprocess.run(["openssl", "prime", str(prime)], capture_output=True, text=True)
        self.assertIn("is prime", check.stdout)
        self.assertEqual(run.last(CAPTION), caption(len(str(prime))))

    def test_generate_prime_rounds_half_bytes(self):
        run = Run(calc("Generate prime number", answers=["12.5", ""]) + ["show 1009"])
        self.assertEqual(int(run.last(RESULT)).bit_length(), 100)

    def test_generate_prime_default_length(self):
        run = Run(calc("Generate prime number", answers=["", ""]) + ["show 1009"])
        prime = int(run.last(RESULT))
        self.assertEqual(prime.bit_length(), 800)
        check = subprocess.run(["openssl", "prime", str(prime)], capture_output=True, text=True)
        self.assertIn("is prime", check.stdout)

    def test_refused_sizes(self):
        # (label, answers, expected message)
        cases = [
            ("Generate prime number", ["<cancel>", ""],
             "Length of the prime: 0 bytes is too short: 1 to 512 bytes (8 to 4096 bits)."),
            ("Generate prime number", ["600", ""],
             "Length of the prime: 600 bytes is too long: 1 to 512 bytes (8 to 4096 bits)."),
            ("Generate random number", ["<cancel>"], "Length of the random number: 0 bytes is too "
             "short: 1 to 2097152 bytes (8 to 16777216 bits)."),
            ("Generate random number", ["-4.5"], "Length of the random number: -4.5 bytes is too "
             "short: 1 to 2097152 bytes (8 to 16777216 bits)."),
            ("Generate RSA random number", ["<cancel>", ""],
             "Length of the random number: 0 bytes is too short: 1 to 16777216 bytes."),
            ("Generate RSA random number", ["", "16"],
             "Length of the RSA modulus: 16 bits is too short: 32 to 8192 bits."),
            ("Generate BBS random number", ["", "<cancel>"],
             "Length of the BBS modulus: 0 bits is too short: 16 to 8192 bits."),
            ("Generate RSA public key", ["<cancel>"],
             "Length of the RSA modulus: 0 bits is too short: 32 to 8192 bits."),
            ("RSA encrypt/decrypt data", ["99999"],
             "Length of the RSA modulus: 99999 bits is too long: 32 to 8192 bits."),
        ]
        for label, answers, message in cases:
            with self.subTest(label=label, answers=answers):
                run = Run(calc("a + b", "1", "1") + calc(label, answers=answers) + ["show"])
                self.assertEqual(run.code, 0)
                self.assertEqual(run.messages(), [message])
                self.assertEqual(run.last(STATUS), "")
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertEqual(run.last(RESULT), "")

    def test_generate_random_number(self):
        run = Run(calc("Generate random number", answers=[""]) + ["show"])
        self.assertEqual(run.prompts(),
                         ["Enter the length of the random number to be generated (in bytes) [100]"])
        value = int(run.last(RESULT))
        self.assertTrue(2 ** 792 <= value < 2 ** 800)  # 100 bytes, top byte not zero

    def test_bit_generators(self):
        for label, init, modulus_prompt in [
            ("Generate RSA random number", "Initializing RSA generator. Only needed once...",
             "Enter the length of the RSA modulus (in bits) [128]"),
            ("Generate BBS random number", "Initializing BBS generator. Only needed once...",
             "Enter the length of the BBS modulus (in bits) [128]"),
        ]:
            with self.subTest(label=label):
                run = Run(calc(label, answers=["", ""]) + calc(label, answers=["3", "64"]))
                self.assertEqual(run.prompts()[1], modulus_prompt)
                self.assertIn(init, run.texts(RESULT))
                results = [t for t in run.texts(RESULT) if t.isdigit()]
                self.assertEqual(len(results), 2)
                self.assertLess(int(results[0]), 2 ** 800)   # 100 bytes, not 800
                self.assertGreater(int(results[0]), 2 ** 700)  # all but impossible otherwise
                self.assertLess(int(results[1]), 2 ** 24)

    def test_generate_rsa_public_key(self):
        run = Run(calc("a + b", "65535", "1") +
                  calc("Generate RSA public key", answers=[""]) + ["show"])
        n, e, d = int(run.last(A)), int(run.last(B)), int(run.last(C))
        self.assertEqual(n.bit_length(), 256)
        rng = random.Random(n)
        for _ in range(5):
            m = rng.randrange(2, n)
            self.assertEqual(pow(pow(m, e, n), d, n), m)
        self.assertEqual(run.last(RESULT), "")  # the outputs are in the fields
        self.assertEqual(run.last(CAPTION), "Result")
        self.assertNotEqual(run.last(TIME), run.texts(TIME)[0])  # the key's own time

    def rsa_check(self, run, n, e, message):
        padded = message + "-" * (-len(message) % 4)
        self.assertEqual(run.last(A), padded)
        self.assertEqual(run.last(C), padded)
        m = int.from_bytes(padded.encode(), "little")
        self.assertEqual(int.from_bytes(shown_bytes(run.last(B)), "little"), pow(m, e, n))

    def test_rsa_round_trips_with_saved_key(self):
        run = Run(calc("RSA encrypt/decrypt data", answers=["", "hello"]) +
                  ["show 1004", "show 1006", "show 1008"] +
                  calc("RSA encrypt/decrypt data", answers=["8 chars!"]) +
                  calc("RSA encrypt/decrypt data", answers=["x" * 40]) + ["show"])
        prompts = run.prompts()
        self.assertEqual(prompts, [
            "Enter the length of the RSA modulus (in bits) [256]",
            "Enter a string to encrypt (max. length: 32 bytes) []",
            "Enter a string to encrypt (max. length: 32 bytes) []",
            "Enter a string to encrypt (max. length: 32 bytes) []"])
        n, e = int(run.texts(A)[0]), int(run.texts(B)[0])
        self.assertEqual(n.bit_length(), 256)
        # Each round trip is checked on the output up to its decrypted text.
        first = Output(run.lines[:run.lines.index("[1008] hello---") + 1])
        self.rsa_check(first, n, e, "hello")
        second = Output(run.lines[:run.lines.index("[1008] 8 chars!") + 1])
        self.rsa_check(second, n, e, "8 chars!")
        self.assertEqual(run.messages(), ["Message is too long!!"])
        self.assertEqual(run.last(A), "x" * 40)
        self.assertEqual(run.last(CAPTION), "Result")

    def test_rsa_key_from_generate_public_key(self):
        run = Run(calc("Generate RSA public key", answers=["512"]) +
                  calc("RSA encrypt/decrypt data", answers=["abcdefg"]) + ["show"])
        self.assertEqual(run.prompts()[1], "Enter a string to encrypt (max. length: 64 bytes) []")
        n, e = int(run.texts(A)[0]), int(run.texts(B)[0])
        self.rsa_check(run, n, e, "abcdefg")

    def aes(self, plaintext, passphrase, second):
        return Run(calc("AES encrypt/decrypt data", answers=[plaintext, passphrase, second]) +
                   ["show"])

    def test_aes_equal_passphrases(self):
        for plaintext, passphrase in [("Attack at dawn", "secret"), ("x" * 200, "p"), ("", "")]:
            with self.subTest(plaintext=plaintext[:20], passphrase=passphrase):
                run = self.aes(plaintext or "<cancel>", passphrase or "<cancel>",
                               passphrase or "<cancel>")
                self.assertEqual(run.prompts(), [
                    "Enter a string (of any length) to encrypt []",
                    "Enter a passphrase to encrypt the string []",
                    "Enter a passphrase to decrypt the string []"])
                self.assertEqual(run.messages(), [])
                self.assertEqual(run.last(A), plaintext)
                self.assertEqual(run.last(C), plaintext)
                cipher = shown_bytes(run.last(B))
                self.assertEqual(len(cipher), 16 + (len(plaintext) // 16 + 1) * 16)
                key = hashlib.sha256(passphrase.encode()).hexdigest()
                dec = subprocess.run(["openssl", "enc", "-d", "-aes-256-cbc", "-K", key,
                                      "-iv", cipher[:16].hex()], input=cipher[16:],
                                     capture_output=True)
                self.assertEqual(dec.stdout, plaintext.encode())
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertEqual(run.last(RESULT), "")
                self.assertGreaterEqual(time_value(run.last(TIME)), 0.0)  # its own time

    def test_aes_different_passphrases(self):
        for second in ("wrong", "<cancel>", "secreT"):
            with self.subTest(second=second):
                run = self.aes("Attack at dawn", "secret", second)
                self.assertEqual(run.code, 0)
                self.assertEqual(len(run.messages()), 1)
                self.assertIn(run.messages()[0], [
                    "Decryption failed: wrong passphrase or damaged ciphertext (bad padding)",
                    "Decryption error: decrypted ciphertext does not equal original plaintext!"])
                self.assertNotEqual(run.last(C), "Attack at dawn")
                self.assertTrue(run.last(B).startswith("hex: "))

    def test_sha256(self):
        texts = ["", "abc", "The quick brown fox " * 400, "0", "\u00e9t\u00e9"]
        for text in texts:
            with self.subTest(text=text[:20]):
                run = Run(["select 1001 SHA-256 hash algorithm", "set 1004 " + text, "press 1019",
                           "show"])
                expected = subprocess.run(["sha256sum"], input=text.encode("utf-8"),
                                          capture_output=True, text=False).stdout.split()[0]
                self.assertEqual(run.last(B), expected.decode())
                self.assertEqual(run.last(CAPTION), "Result")
                self.assertGreaterEqual(time_value(run.last(TIME)), 0.0)  # its own time
        self.assertEqual(Run(["select 1001 SHA-256 hash algorithm", "set 1004 abc",
                              "press 1019"]).last(B),
                         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")


class StopTest(unittest.TestCase):
    """Ctrl-C (SIGINT) at the console stops the calculation in progress, not the program."""

    def test_ctrl_c_stops_an_exact_proof_and_the_next_command_runs(self):
        proc = subprocess.Popen([WORKBENCH, "--console"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        lines, seen = queue.Queue(), []
        threading.Thread(target=lambda: [lines.put(line.rstrip("\n")) for line in proc.stdout],
                         daemon=True).start()

        def send_then_wait(commands, wanted, timeout):
            proc.stdin.write("".join(command + "\n" for command in commands))
            proc.stdin.flush()
            while not seen or seen[-1] != wanted:
                seen.append(lines.get(timeout=timeout))   # queue.Empty: nothing came in time

        try:
            send_then_wait(["select 1001 Generate prime number", "press 1019", "415", "5"], "[1022] ", 60)
            prime = Output(seen).last(RESULT)
            self.assertEqual(len(prime), 1000)
            # Its exact proof takes minutes; the bound below is against a hang only.
            send_then_wait(["select 1001 a is prime? (Slow, 100%)", "set 1004 " + prime, "press 1019"],
                           "[1022] Calculating...", 30)
            time.sleep(1)
            proc.send_signal(signal.SIGINT)
            send_then_wait([], "[1022] Stopped", 40)
            self.assertEqual(Output(seen).last(RESULT), "")
            self.assertGreater(time_value(Output(seen).last(TIME)), 0.9)
            send_then_wait(["show 1004", "select 1001 a ^ b", "set 1004 3", "set 1006 5", "press 1019"],
                           "[1009] 243", 30)
            self.assertIn("[%d] %s" % (A, prime), seen)   # the parameter stayed as it was
            proc.stdin.write("close\n")
            proc.stdin.close()
            self.assertEqual(proc.wait(timeout=30), 0)
        finally:
            proc.kill()
            proc.wait()
            proc.stdout.close()


if __name__ == "__main__":
    WORKBENCH = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
