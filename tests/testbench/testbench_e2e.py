#!/usr/bin/env python3
"""End-to-end tests of the testbench program, driven through its console backend.

Usage: testbench_e2e.py GROUP TESTBENCH FAULTS_SO
GROUP is one of the groups at the bottom. FAULTS_SO is the interposer that breaks selected
library functions (VORN_FAULTS) and records pauses as gaps between library calls.
"""
import math
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import queue
import time

TESTBENCH = FAULTS = None
# The program seeds its pseudo-random generator from the time of day; the tests stop the wall
# clock at SEED milliseconds after midnight, so the program's draws can be replayed.
SEED = int(os.environ.get("VORN_SEED") or random.randrange(86_400_000))
HYPHENS27 = "-" * 27
BATTERY_PROMPT = "? For how long do you want to perform tests (in minutes): [1]"
# Pauses are scaled by this factor; a 10 s pause then takes 1000 ms and a 2 s one 200 ms.
PAUSE_SCALE = 0.1
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


def limit_file_size(limit):
    """A child set-up that caps the size of files the program writes: writes beyond fail."""
    def set_up():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return set_up


def run(stdin_lines, faults="", cwd=None, env=None, timeout=120, preexec=None):
    """Runs testbench --console; returns (log lines, stdout lines, gaps, seconds, rc)."""
    with tempfile.TemporaryDirectory() as scratch:
        gap_log = os.path.join(scratch, "gaps")
        full_env = dict(os.environ)
        full_env.update({
            "LD_PRELOAD": FAULTS,
            "VORN_FAULTS": faults,
            "VORN_PAUSE_SCALE": str(PAUSE_SCALE),
            "VORN_GAP_LOG": gap_log,
            "VORN_GAP_MIN_MS": "100",
            "VORN_FIXED_TIME": str(SEED),
            "TZ": "UTC",
        })
        full_env.pop("DISPLAY", None)
        full_env.update(env or {})
        start = time.monotonic()
        done = subprocess.run([TESTBENCH, "--console"], input="".join(l + "\n" for l in stdin_lines),
                              capture_output=True, text=True, cwd=cwd or scratch,
                              env=full_env, timeout=timeout, preexec_fn=preexec)
        seconds = time.monotonic() - start
        gaps = []
        if os.path.exists(gap_log):
            for line in open(gap_log):
                ms, function = line.split()
                # The 80 pump steps (1 ms sleeps) before the clock starts are no pause.
                if function != "VN_CHECKTESTVECTORS_AES":
                    gaps.append((float(ms), function))
    out = done.stdout.splitlines()
    log = [line[len("[1007] "):] for line in out if line.startswith("[1007] ")]
    if done.stderr.strip():
        print("stderr:", done.stderr.strip())
    return log, out, gaps, seconds, done.returncode


def pause_kinds(gaps):
    """Each gap as L (a 10 s pause) or S (a 2 s pause) with the library call it preceded."""
    return ["%s:%s" % ("L" if ms >= 600 else "S", function) for ms, function in gaps
            if ms >= 120]


def battery_lines(log):
    return log[log.index("Tests started..."):] if "Tests started..." in log else []


def summary(lines):
    m = re.fullmatch(r" (\d+) tests done, ([ -]\d+) errors", lines[-3]) if len(lines) >= 3 else None
    return (int(m.group(1)), int(m.group(2))) if m else (None, None)


def battery(answer, faults=""):
    log, out, gaps, seconds, rc = run(["press 1002", answer, "close"], faults)
    check(rc == 0, "exit code 0 after a battery with %r" % faults)
    check(BATTERY_PROMPT in out, "the duration prompt is shown")
    return battery_lines(log), gaps, seconds


# ---- Groups -----------------------------------------------------------------------------------

def group_frame():
    # "show" prints every line of the log, the empty first one included.
    log, out, _, _, rc = run(["show 1007"])
    check(rc == 0, "end of input closes with exit code 0")
    shown = log[-5:]
    check(shown[:4] == ["", "Testprogram for VORN.dll", "Quendel library", "-" * 40] and
          re.fullmatch(r"Current version of VORN\.dll: \d*\.\d\d", shown[-1]) is not None,
          "banner: %r" % log)
    for fault, shown in [("version5", ".05"), ("version1234", "12.34")]:
        log, _, _, _, _ = run([], fault)
        check(log[-1] == "Current version of VORN.dll: " + shown, "version %s: %r" % (fault, log[-1]))

    # Labels, the log, Enter (1) and Esc (2) do nothing; the close box ends with 0.
    log, out, _, _, rc = run(["press 1001", "press 1003", "press 1007", "press 1", "press 2",
                              "show", "close", "press 1002"])
    check(rc == 0, "close gives exit code 0")
    check(not any(line.startswith("?") for line in out), "no prompt from labels, log, Enter, Esc")
    shown = [line for line in out if re.match(r"\[100[1-5]\] ", line)]
    check(shown == ["[1001] Run battery of tests to check proper functioning of VORN.dll",
                    "[1002] Run battery of tests", "[1003] Create file with random data",
                    "[1004] Blum-Blum-Shub algorithm", "[1005] RSA algorithm"],
          "control texts in creation order: %r" % shown)

    # The log keeps what the user typed; the next line goes after it, on a line of its own.
    log, out, _, _, _ = run(["set 1007 typed by hand", "press 1002", "0", "show 1007"])
    shown = [line for line in out[out.index(BATTERY_PROMPT):] if line.startswith("[1007] ")]
    check(shown[-7:-5] == ["[1007] typed by hand", "[1007] Tests started..."] if len(shown) >= 7
          else False, "typed text stays, new line after it: %r" % shown[-8:])


def group_battery_clean():
    lines, gaps, _ = battery("0")
    check(lines == ["Tests started...", "Checking AES testvectors", "Checking SHA-256 testvectors",
                    " 32 tests done,  0 errors", "GlobalError: 0", HYPHENS27],
          "clean one-pass battery: %r" % lines)
    check(pause_kinds(gaps) == [], "no pause in a clean battery: %r" % gaps)
    for answer in ["<cancel>", "abc", "-2", "0.0"]:
        lines, _, _ = battery(answer)
        check(summary(lines) == (32, 0), "answer %r gives one pass: %r" % (answer, lines[-3:]))
    lines, _, _ = battery("0.05")
    tests, errors = summary(lines)
    check(tests is not None and tests > 32 and (tests - 2) % 30 == 0 and errors == 0,
          "0.05 minutes: 2 + 30n tests (more than one pass), no errors: %r" % lines[-3:])
    check(len(lines) == 6, "a clean longer battery logs six lines: %r" % lines)


def group_midnight():
    # The wall clock starts 1 s before midnight; the battery must still end (the run's
    # timeout catches one that does not).
    log, _, _, _, rc = run(["press 1002", "0.05", "close"], "", timeout=60,
                           env={"VORN_FAKE_MIDNIGHT": "1", "VORN_FIXED_TIME": ""})
    tests, errors = summary(battery_lines(log))
    check(rc == 0 and tests is not None and tests > 32 and (tests - 2) % 30 == 0 and errors == 0,
          "battery across midnight ends: %r" % log[-3:])


START = ["Tests started...", "Checking AES testvectors", "Checking SHA-256 testvectors"]
LINE_13 = "Error in (13) vn_ModInv"
RSA_MISMATCH = ["Error in (19) vn_Encrypt_RSA, vn_Decrypt_RSA",
                "Decrypted ciphertext does not equal original plaintext..."]


def aes_lines(number, mode):
    return ["(%d) vn_Encrypt_AES_%s, vn_Decrypt_AES_%s, %d bit key" % (number, mode, mode, k)
            for k in (128, 192, 256)]


# faults, failure lines after the start lines (None: the test itself checks them), errors,
# pauses (L 10 s, S 2 s, with the library call that follows the pause).
FAULT_CASES = [
    ("aes_kat", ["Tests started...", "Checking AES testvectors",
                 "Error(s) in vn_CheckTestVectors_AES: 3 error(s)", "Checking SHA-256 testvectors"],
     1, ["L:VN_CHECKTESTVECTORS_SHA_256"]),
    ("sha_kat", START + ["Error(s) in vn_CheckTestVectors_SHA_256:-2 error(s)"], 1,
     ["L:VN_GENERATERANDOM"]),
    ("sub", START + ["Error in (1)a vn_Add , vn_Sub"], 1, ["L:VN_GENERATERANDOM"]),
    ("add_same", START + ["Error in (1)b vn_Add , vn_MulBy2"], 1, ["L:VN_GENERATERANDOM"]),
    ("div_rem", START + ["Error in (2)a vn_Mul, vn_Div"], 1, []),
    ("divby2_q5", START + ["Error in (2)b vn_Div , vn_DivBy2"], 1, []),
    ("divby2_r5", START + ["Error in (2)b vn_Div , vn_DivBy2"], 1, []),
    ("divby2_q5,divby2_r5", START + ["Error in (2)b vn_Div , vn_DivBy2"], 1, []),
    ("mul_two", START + ["Error in (3) vn_Mul, vn_MulBy2"], 1, []),
    ("divby2_q3", START + ["Error in (4) vn_Div, vn_DivBy2"], 1, []),
    ("divby2_r3,divby2_q3", START + ["Error in (4) vn_Div, vn_DivBy2"], 1, []),
    ("dec2huge", START + ["Error in (5) vn_Huge2Dec , vn_Dec2Huge"], 1, []),
    ("pow", START + ["Error in (6) vn_Pow"], 1, ["S:VN_GENERATERANDOM"]),
    ("powmod", START + ["Error in (7) vn_PowMod"], 1, ["S:VN_GENERATERANDOM"]),
    ("isless_12_false", START + ["Error in (8a) vn_IsLess"], 1, ["S:VN_ISLESS"]),
    ("isless_21_true", START + ["Error in (8b) v_IsLess"], 1, ["S:VN_GENERATERANDOM"]),
    ("isless_12_false,isless_21_true", START + ["Error in (8a) vn_IsLess", "Error in (8b) v_IsLess"],
     2, ["S:VN_ISLESS", "S:VN_GENERATERANDOM"]),
    ("iszero_1_true", START + ["Error in (9) vn_IsZero"], 1, ["S:VN_GENERATERANDOM"]),
    ("iszero_7_false", START + ["Error in (9) vn_IsZero"], 1, ["S:VN_GENERATERANDOM"]),
    ("isodd_1_true,isodd_2_false", START + ["Error in (10) vn_IsOdd"], 1, ["S:VN_GENERATERANDOM"]),
    ("isodd_2_false", START + ["Error in (10) vn_IsOdd"], 1, ["S:VN_GENERATERANDOM"]),
    ("isequal_12_false", START + ["Error in (11) vn_IsEqual"], 1, ["S:VN_GENERATEPRIME"]),
    ("isequal_32_true", START + ["Error in (11) vn_IsEqual"], 1, ["S:VN_GENERATEPRIME"]),
    ("gcd_3", START + ["Error in (12) vn_GCD"], 1, ["S:VN_GENERATERANDOM"]),
    ("modinv", None, 1, ["S:VN_GENERATEPRIME"]),
    ("modinv_status", START, 0, []),
    ("isrelprime_false",
     START + ["Error in (13) vn_GenerateRandom, vn_IsRelPrime: no coprime operand drawn"], 1,
     ["S:VN_GENERATEPRIME"]),
    ("gcd_6", START + ["Error in (14) vn_GeneratePrimes, vn_GCD"], 1, ["S:VN_ISPRIME_DIV"]),
    ("isprime_div_false", START + ["Error in (15) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB"],
     1, ["S:VN_GENERATERANDOM"]),
    ("isprime_f_false,isprime_rb_false",
     START + ["Error in (15) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB"], 1,
     ["S:VN_GENERATERANDOM"]),
    ("isprime_rb_true", START + ["Error in (16) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB"],
     1, ["S:VN_GENERATEPRIME"]),
    ("isprime_div_true,isprime_f_true",
     START + ["Error in (16) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB"], 1,
     ["S:VN_GENERATEPRIME"]),
    ("isprime_slow_false", START + ["Error in (17) vn_IsPrime_Slow"], 1, ["S:VN_GENERATERANDOM"]),
    ("isprime_slow_true", START + ["Error in (18) vn_IsPrime_Slow"], 1,
     ["S:VN_GENERATERSAKEYS"]),
    ("rsa_enc_status1", START + ["Plaintext length is not a multiple of 4 bytes!"], 0,
     ["S:VN_DECRYPT_RSA"]),
    ("rsa_enc_status2", START + ["Plaintext is larger than modulus!"], 0, ["S:VN_DECRYPT_RSA"]),
    ("rsa_dec_status1", START + ["Ciphertext length is not a multiple of 4 bytes!"], 0,
     ["S:VN_ISNOTEQUAL"]),
    ("rsa_dec_status2", START + ["Ciphertext is larger than modulus!"], 0, ["S:VN_ISNOTEQUAL"]),
    ("rsa_dec_wrong", START + RSA_MISMATCH, 1, ["S:VN_PUTREG"]),
    ("rsa_enc_status1,rsa_dec_wrong",
     START + ["Plaintext length is not a multiple of 4 bytes!"] + RSA_MISMATCH, 1,
     ["S:VN_DECRYPT_RSA", "S:VN_PUTREG"]),
    ("isless_43_false",
     START + ["Error in (19) vn_GenerateRandom, vn_IsLess: no plaintext below the modulus drawn"],
     1, ["S:VN_PUTREG"]),
    ("cbc_dec", START + aes_lines(21, "CBC"), 3, ["S:VN_PUTREG"] * 3),
    ("ecb_dec", START + aes_lines(21, "ECB"), 3, ["S:VN_PUTREG"] * 2 + ["S:VN_GENERATERANDOM"]),
    ("block_dec", START + aes_lines(23, "1Block"), 3,
     ["S:VN_GENERATERANDOM"] * 2 + ["S:VN_GETGLOBALERROR"]),
]


def check_inverse_lines(lines):
    """Test (13) with a spoiled inverse: its line and the hex of a, m and the wrong inverse."""
    if not check(lines[3:4] == [LINE_13] and len(lines) == 10, "(13) lines: %r" % lines):
        return
    try:
        a, m, inverse = (int(h, 16) for h in lines[4:7])
    except ValueError:
        check(False, "(13) hex lines: %r" % lines[4:7])
        return
    check(all(re.fullmatch(r"[0-9A-F]+", h) for h in lines[4:7]), "upper-case hex: %r" % lines[4:7])
    check(math.gcd(a, m) == 1 and a * (inverse - 1) % m == 1 and a * inverse % m != 1,
          "(13) shows a, m and the spoiled inverse (true one + 1)")


def group_battery_faults(part, parts):
    for index, (faults, expected, errors, pauses) in enumerate(FAULT_CASES):
        if index % parts != part:
            continue
        lines, gaps, _ = battery("0", faults)
        if expected is None:
            check_inverse_lines(lines)
        else:
            check(lines[:-3] == expected, "%s: lines %r" % (faults, lines))
        check(summary(lines) == (32, errors), "%s: %d errors: %r" % (faults, errors, lines[-3:]))
        expected_global = "GlobalError: 7" if faults == "globalerror" else "GlobalError: 0"
        check(lines[-2:] == [expected_global, HYPHENS27], "%s: summary %r" % (faults, lines[-2:]))
        check(pause_kinds(gaps) == pauses, "%s: pauses %r, gaps %r" % (faults, pauses, gaps))
    if part == 0:
        lines, _, _ = battery("0", "globalerror")
        check(lines[-2] == "GlobalError: 7", "global error shown as the library gives it")
    else:
        # A truth function that fails (-1) passes no check: all 30 tests fail, (8) twice,
        # and the draws for (13) and (19) find no operand.
        log, _, _, _, _ = run(["press 1002", "0", "close"], "truth_fail",
                              env={"VORN_PAUSE_SCALE": "0"})
        lines = battery_lines(log)
        check(summary(lines) == (32, 31) and "Error in (8b) v_IsLess" in lines and
              any("no coprime operand drawn" in line for line in lines) and
              any("no plaintext below the modulus drawn" in line for line in lines),
              "failing truth functions: %r" % lines)
        # The RSA file's seed loop does not take -1 for "below the modulus" either.
        with tempfile.TemporaryDirectory() as cwd:
            lines, _ = generate(RSA_DEFAULTS + ["3"], cwd, "truth_fail")
            check(lines[-3] == "Error in vn_GenerateRandom, vn_IsLess: no seed below the RSA "
                  "modulus drawn" and size(os.path.join(cwd, "RSA.txt")) is None,
                  "seed loop with failing vn_IsLess: %r" % lines)


# ---- File generators --------------------------------------------------------------------------

BBS_DEFAULTS = ["press 1004", "", ""]   # 128 bits, multiple bits "y"
RSA_DEFAULTS = ["press 1005", ""]


def temporary_files(cwd):
    return [name for name in os.listdir(cwd) if name.endswith(".tmp")]


def generate(commands, cwd, faults="", env=None, preexec=None):
    log, out, _, _, rc = run(commands + ["close"], faults, cwd=cwd, env=env, preexec=preexec)
    check(rc == 0, "exit code 0 after %r" % commands)
    check(temporary_files(cwd) == [], "no temporary file left after %r: %r" % (commands, temporary_files(cwd)))
    after_banner = [i for i, line in enumerate(log) if line.startswith("Current version")]
    return log[after_banner[0] + 1:] if after_banner else log, out


def size(path):
    return os.path.getsize(path) if os.path.lexists(path) else None


def group_files():
    with tempfile.TemporaryDirectory() as cwd:
        for name, start, algorithm in [("BBS.txt", BBS_DEFAULTS, "BBS"),
                                       ("RSA.txt", RSA_DEFAULTS, "RSA")]:
            path = os.path.join(cwd, name)
            with open(path, "wb") as f:
                f.write(b"old" * 5000)
            lines, out = generate(start + ["3"], cwd)
            check(lines == ["%s modulus bitlenght:  128" % algorithm,
                            "Generating file with random data, %s algorithm:" % algorithm,
                            cwd + "\\" + name, "Data was generated...", HYPHENS27],
                  "%s lines: %r" % (name, lines))
            check(size(path) == 3000, "%s: 3 chunks, 3000 bytes whatever was there" % name)
            check(len(set(open(path, "rb").read())) > 200, "%s holds varied bytes" % name)
            prompts = [line for line in out if line.startswith("? ")]
            expected = ["? Enter bitlength of %s modulus: [128]" % algorithm]
            if algorithm == "BBS":
                expected.append("? Multiple bits per calculation? (y/n): [y]")
            expected.append("? How many kbytes to generate: [10000]")
            check(prompts == expected, "%s prompts: %r" % (name, prompts))

            # No chunk to write leaves the earlier file as it was, and says so.
            for answer, chunks in [("2.5", 2), ("3.5", 4), ("0", 0), ("abc", 0), ("<cancel>", 0),
                                   ("-4", -4)]:
                with open(path, "wb") as f:
                    f.write(b"x" * 1234)
                lines, _ = generate(start + [answer], cwd)
                if chunks > 0:
                    check(size(path) == chunks * 1000 and lines[-2:] == ["Data was generated...", HYPHENS27],
                          "%s: %r chunks gives %s bytes, got %s" % (name, answer, chunks * 1000, size(path)))
                else:
                    check(read(path) == b"x" * 1234 and lines[-3:] == [
                        "No data to generate (%d kbytes)" % chunks, name + " was left as it was", HYPHENS27],
                          "%s: %r chunks keeps the file: %r" % (name, answer, lines[-3:]))

            # Chunks of another length are reported each time and written all the same.
            lines, _ = generate(start + ["3"], cwd, "chunk999")
            check(lines.count("Length of h <> ChunkLen!!") == 3 and size(path) == 2997,
                  "%s: 999-byte chunks: %r, %s bytes" % (name, lines, size(path)))
            # A library that writes the length it delivered back: no complaint.
            lines, _ = generate(start + ["2"], cwd, "chunklen999")
            check("Length of h <> ChunkLen!!" not in lines and size(path) == 1998,
                  "%s: length written back: %r" % (name, lines))

        # Only exactly "y" asks for several bits per step.
        multi_log = os.path.join(cwd, "multi")
        for answer, flag in [("y", 1), ("", 1), ("Y", 0), (" y", 0), ("y ", 0), ("yes", 0),
                             ("n", 0), ("<cancel>", 0)]:
            if os.path.exists(multi_log):
                os.remove(multi_log)
            generate(["press 1004", "", answer, "1"], cwd, env={"VORN_MULTI_LOG": multi_log})
            got = open(multi_log).read().split() if os.path.exists(multi_log) else []
            check(got == [str(flag)], "multi-bit answer %r gives %d: %r" % (answer, flag, got))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def group_file_errors():
    with tempfile.TemporaryDirectory() as cwd:
        bbs = os.path.join(cwd, "BBS.txt")
        rsa = os.path.join(cwd, "RSA.txt")
        target = os.path.join(cwd, "target.txt")
        not_regular = ["Cannot write BBS.txt: not a regular file", "BBS.txt was left as it was", HYPHENS27]
        left = "BBS.txt was left as it was"

        # A link of that name is removed, never followed: its target keeps its bytes, a
        # dangling link's target is not created, and the data goes to a fresh file.
        for start, path, name in [(BBS_DEFAULTS, bbs, "BBS.txt"), (RSA_DEFAULTS, rsa, "RSA.txt")]:
            write(target, b"0123456789")
            os.symlink(target, path)
            lines, _ = generate(start + ["2"], cwd)
            check(read(target) == b"0123456789" and not os.path.islink(path) and
                  size(path) == 2000 and lines[-2] == "Data was generated...",
                  "%s: link to a file: %r" % (name, lines[-2:]))
            os.remove(target)
            os.remove(path)
            os.symlink(target, path)
            lines, _ = generate(start + ["2"], cwd)
            check(not os.path.lexists(target) and not os.path.islink(path) and
                  size(path) == 2000, "%s: dangling link: %r" % (name, lines[-2:]))

        # A link that appears under the name during the run is not followed either: the
        # finished file replaces the link itself (the earlier file was moved away by then).
        os.remove(rsa)
        write(target, b"keep")
        write(bbs, b"old")
        lines, _ = generate(BBS_DEFAULTS + ["3"], cwd, "link_swap")
        check(read(target) == b"keep" and read(os.path.join(cwd, "moved.txt")) == b"old" and
              not os.path.islink(bbs) and size(bbs) == 3000 and
              lines[-2] == "Data was generated...", "link during the run: %r" % lines[-2:])
        for path in (target, bbs, os.path.join(cwd, "moved.txt")):
            os.remove(path)

        # A pipe or a directory of that name is left alone and stops the run before the
        # library is asked for anything; a pipe without a reader does not hang it.
        for make, gone in [(os.mkfifo, os.remove), (os.mkdir, os.rmdir)]:
            make(bbs)
            lines, _ = generate(BBS_DEFAULTS + ["3"], cwd, "chunk_fail")
            check(lines[-3:] == not_regular and os.path.exists(bbs) and
                  not os.path.isfile(bbs) and "Data was generated..." not in lines,
                  "%s: %r" % (make.__name__, lines))
            gone(bbs)

        # A write that fails (here a file size limit) is reported, stops the run and leaves
        # the earlier file byte for byte.
        old = bytes(range(256)) * 4
        write(bbs, old)
        lines, _ = generate(BBS_DEFAULTS + ["3"], cwd, preexec=limit_file_size(1500))
        check(lines[-3:] == ["Cannot write BBS.txt: File too large", left, HYPHENS27] and
              read(bbs) == old, "failed write: %r" % lines)

        # A file that cannot be replaced keeps its bytes.
        write(bbs, b"old")
        if subprocess.run(["chattr", "+i", bbs], capture_output=True).returncode == 0:
            try:
                lines, _ = generate(BBS_DEFAULTS + ["3"], cwd)
                check(lines[-3:] == ["Cannot replace BBS.txt: Operation not permitted", left, HYPHENS27]
                      and read(bbs) == b"old", "unreplaceable file: %r" % lines)
            finally:
                subprocess.run(["chattr", "-i", bbs])
        else:
            print("note: chattr +i not permitted here; unreplaceable-file case skipped")
        os.remove(bbs)

        # A cancelled or too small bit length: the library cannot set up, the run says so,
        # stops, and the earlier file keeps its bytes.
        for start, path, function in [(["press 1004", "<cancel>", ""], bbs, "vn_InitBBS"),
                                      (["press 1004", "8", ""], bbs, "vn_InitBBS"),
                                      (["press 1005", "<cancel>"], rsa, "vn_GenerateRSAKeys")]:
            write(path, old)
            lines, _ = generate(start + ["3"], cwd)
            check(re.fullmatch(r"Error in %s: status-1, GlobalError: \d+" % function,
                               lines[-3] if len(lines) >= 3 else "") is not None and
                  lines[-2] == os.path.basename(path) + " was left as it was" and read(path) == old,
                  "bit length %r: %r, file %s" % (start[1], lines, size(path)))
            check(lines[0].endswith("bitlenght:  0") or start[1] == "8", "bit length 0 logged")

        # The seed loop gives up instead of spinning: no value below the modulus, or a
        # generator that fails outright.
        for faults in ["isless_43_false", "random_fail"]:
            write(rsa, b"old")
            lines, _ = generate(RSA_DEFAULTS + ["3"], cwd, faults)
            check(lines[-3:] == ["Error in vn_GenerateRandom, vn_IsLess: no seed below the RSA "
                                 "modulus drawn", "RSA.txt was left as it was", HYPHENS27] and read(rsa) == b"old",
                  "seed loop with %s: %r" % (faults, lines))

        # A failing generator call writes nothing more and reports itself.
        for start, name, function in [(BBS_DEFAULTS, bbs, "vn_GenerateBBSRandomBits"),
                                      (RSA_DEFAULTS, rsa, "vn_GenerateRSARandomBits")]:
            write(name, b"old")
            lines, _ = generate(start + ["3"], cwd, "chunk_fail")
            check(lines[-3].startswith("Error in %s: status-1" % function) and read(name) == b"old"
                  and "Data was generated..." not in lines, "failing generator: %r" % lines)


# ---- Stopping with Ctrl-C ---------------------------------------------------------------------

class Session:
    """testbench --console fed line by line, its standard output read as it comes."""

    def __init__(self, cwd):
        env = dict(os.environ, LD_PRELOAD=FAULTS, VORN_FAULTS="", VORN_PAUSE_SCALE="0", TZ="UTC")
        env.pop("DISPLAY", None)
        self.process = subprocess.Popen([TESTBENCH, "--console"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, cwd=cwd, env=env)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def send(self, *lines):
        self.process.stdin.write("".join(line + "\n" for line in lines))
        self.process.stdin.flush()

    def wait_for(self, ending, timeout=60):
        """Reads up to the first log line that ends with `ending`; False when none came."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=0.1)
            except queue.Empty:
                continue
            self.seen.append(line)
            if line.endswith(ending):
                return True
        return False

    def log_since(self, first):
        log = [line[len("[1007] "):] for line in self.seen if line.startswith("[1007] ")]
        return log[len(log) - 1 - log[::-1].index(first):] if first in log else []


def group_stop():
    with tempfile.TemporaryDirectory() as cwd:
        bbs = os.path.join(cwd, "BBS.txt")
        old = bytes(range(256)) * 40
        write(bbs, old)
        session = Session(cwd)
        # Ctrl-C during a battery of an hour ends it after the test in progress, with its
        # summary; the program stays for the next command.
        session.send("press 1002", "60")
        check(session.wait_for("Checking SHA-256 testvectors"), "the battery starts")
        time.sleep(0.5)
        session.process.send_signal(signal.SIGINT)
        check(session.wait_for("-" * 27, timeout=20), "the battery ends after Ctrl-C")
        lines = session.log_since("Tests started...")
        counts = re.fullmatch(r" (\d+) tests done, ([ -]\d+) errors, stopped by the user", lines[-3])
        check(counts is not None and int(counts.group(1)) > 2 and int(counts.group(2)) == 0 and
              lines[-2] == "GlobalError: 0", "stopped battery summary: %r" % lines[-3:])

        # Ctrl-C while a file is written: the earlier file keeps its bytes, no temporary file
        # stays, and the log says so.
        session.send("press 1004", "", "", "1000000")
        end = time.monotonic() + 30
        while not temporary_files(cwd) and time.monotonic() < end:
            time.sleep(0.02)
        time.sleep(0.3)
        session.process.send_signal(signal.SIGINT)
        check(session.wait_for("-" * 27, timeout=20), "the file run ends after Ctrl-C")
        lines = session.log_since("Generating file with random data, BBS algorithm:")
        check(lines[-3:] == ["Stopped by the user", "BBS.txt was left as it was", HYPHENS27] and
              read(bbs) == old and temporary_files(cwd) == [], "stopped file run: %r" % lines)

        # SIGTERM (or SIGHUP) during a run ends the program, but never leaves a temporary file.
        second = Session(cwd)
        second.send("press 1004", "", "", "1000000")
        while not temporary_files(cwd) and time.monotonic() < end + 30:
            time.sleep(0.02)
        second.process.send_signal(signal.SIGTERM)
        check(second.process.wait(timeout=20) == 128 + signal.SIGTERM and temporary_files(cwd) == []
              and read(bbs) == old, "SIGTERM during a file run: %r" % temporary_files(cwd))

        # The next command runs as ever; Ctrl-C when idle ends the program as before.
        session.send("press 1002", "0")
        check(session.wait_for("errors"), "a battery after the stops")
        check(session.seen[-1] == "[1007]  32 tests done,  0 errors", "next battery: %r" % session.seen[-1])
        check(session.wait_for("-" * 27), "its summary ends")
        time.sleep(0.5)   # the handler returns just after its last line
        session.process.send_signal(signal.SIGINT)
        check(session.process.wait(timeout=20) == -signal.SIGINT, "Ctrl-C when idle ends the program")


def main():
    global TESTBENCH, FAULTS
    group = sys.argv[1]
    TESTBENCH, FAULTS = (os.path.abspath(path) for path in sys.argv[2:4])
    groups = {
        "frame": group_frame,
        "battery_clean": group_battery_clean,
        "midnight": group_midnight,
        "battery_faults_0": lambda: group_battery_faults(0, 2),
        "battery_faults_1": lambda: group_battery_faults(1, 2),
        "files": group_files,
        "file_errors": group_file_errors,
        "stop": group_stop,
    }
    print("VORN_SEED=%d" % SEED)
    groups[group]()
    print("%s: %d failure(s)" % (group, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
