#!/usr/bin/env python3
"""End-to-end tests of the Windows exe, run under Wine.

The win64 build tree holds the tool (tolv.exe) and two helpers built from this
directory: tolvtgt.exe, a process that only sleeps, started under unique names
so that it is the only process of its name, and tolvdrv.exe, which starts the
tool with an exact command line, reads and dismisses its message boxes, reads
the targets' priority classes and reports all of it as JSON.

The whole run uses one fresh Wine prefix, one persistent wineserver and one
virtual X display (Xvfb). Exits with 77, a skip for CTest, when Wine or Xvfb is
missing.
"""

import argparse
import binascii
import fcntl
import json
import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77

IDLE = 0x40
NORMAL = 0x20
HIGH = 0x80
BELOW_NORMAL = 0x4000
ABOVE_NORMAL = 0x8000

USAGE_TEXT = (
    "Tolvenar Reference"
    "\n\nArguments:\n tolv \"Module File\" PRIORITY"
    "\n\n \"Module File\" parameters is .EXE file name"
    "\n\ncommand line samples:"
    "\n(for InternetExplorer)\n \"iexplore.exe\" BELOW_NORMAL\n\n(for WMP)\n \"wmplayer.exe\" IDLE"
    "\n\nPriority Parameters:"
    "\n REALTIME=256\n HIGHEST=128\n HIGH=128\n ABOVE_NORMAL=32768\n NORMAL=32\n BELOW_NORMAL=16384\n IDLE=64\n"
)
FAILURE_TEXT = "SetPriorityClass function error\n\nGetLastError()={}\n"
CAPTION = "Tolvenar"

# Not a priority class: the system refuses it.
REFUSED_CLASS = 12345


def find_program(*candidates):
    for candidate in candidates:
        path = shutil.which(candidate) if os.sep not in candidate else candidate
        if path and os.access(path, os.X_OK):
            return path
    return None


WINE = find_program("/usr/lib/wine/wine64", "wine64")
WINESERVER = find_program("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver", "wineserver")
XVFB = find_program("Xvfb")


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineSession:
    """One prefix, one wineserver, the helpers, and fresh targets on demand."""

    def __init__(self, win64_dir, work_dir):
        self.work_dir = os.path.abspath(work_dir)
        self.prefix = os.path.join(self.work_dir, "prefix")
        self.target_dir = os.path.join(self.work_dir, "targets")
        helpers = os.path.join(win64_dir, "tests", "wine")
        self.driver = os.path.join(helpers, "tolvdrv.exe")
        self.target_exe = os.path.join(helpers, "tolvtgt.exe")
        self.built_tool = os.path.join(win64_dir, "tolv.exe")
        # A blank in the tool's path, so that the quoted program name on the
        # command line holds one, as it does under "Program Files".
        self.tool = os.path.join(self.work_dir, "Program Files", "Tolvenar", "tolv.exe")
        self.env = dict(
            os.environ,
            WINEPREFIX=self.prefix,
            WINEDEBUG="-all",
            # No offers to install Mono or Gecko into the fresh prefix.
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        self.server_started = False

    def missing_files(self):
        return [p for p in (self.built_tool, self.driver, self.target_exe) if not os.path.isfile(p)]

    def start(self):
        shutil.rmtree(self.work_dir, ignore_errors=True)
        os.makedirs(self.prefix)
        os.makedirs(self.target_dir)
        os.makedirs(os.path.dirname(self.tool))
        shutil.copy2(self.built_tool, self.tool)
        # Persistent, so each later start takes a fraction of a second rather
        # than seconds; for a limited time only, so that a run killed before
        # its clean-up still leaves no server behind for long.
        subprocess.run([WINESERVER, "-p60"], env=self.env, check=True, timeout=30)
        self.server_started = True
        self.wine(["wineboot", "-i"], timeout=180)
        # Unmanaged windows: without a window manager, a managed box would
        # take seconds to go away after it is dismissed.
        self.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"])

    def stop(self):
        if self.server_started:
            # Kills every Windows process of the prefix, targets included.
            subprocess.run([WINESERVER, "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.server_started = False

    def remove(self):
        shutil.rmtree(self.work_dir, ignore_errors=True)

    def wine(self, args, timeout=60):
        # Files, not pipes: the Windows processes that a start spawns (the
        # system's own, and the tool's) inherit these, and reading a pipe to
        # its end would wait for all of them to exit.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE] + args, env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            if code != 0:
                raise RuntimeError("wine %s failed with %d: %s" % (args, code, err.read()[-2000:]))
            return out.read().decode("latin-1")

    def new_target(self, name=None):
        """Copies the sleeping target to a name no other process has."""
        name = name or "tolvtgt_%s.exe" % secrets.token_hex(4)
        path = os.path.join(self.target_dir, name)
        shutil.copy2(self.target_exe, path)
        return path

    def _driver(self, args):
        out = self.wine([self.driver] + args)
        lines = [line for line in out.splitlines() if line.startswith("{")]
        if not lines:
            raise RuntimeError("no report from the driver: %r" % out)
        report = json.loads(lines[-1])
        if "driver_error" in report:
            raise RuntimeError("driver: %s" % report)
        return report

    def run_tool(self, cmdline, targets=(), tool=None, echo_file=None):
        """Runs the tool with this exact command line; targets are started first."""
        args = ["run", "--tool", windows_path(tool or self.tool),
                "--cmdline-hex", binascii.hexlify(cmdline.encode("latin-1")).decode()]
        for target in targets:
            args += ["--target", windows_path(target)]
        if echo_file:
            args += ["--echo-file", windows_path(echo_file)]
        return self._driver(args)

    def set_class(self, target, priority_class):
        """Calls SetPriorityClass on a fresh target process directly."""
        return self._driver(["setclass", "--target", windows_path(target), "--class", str(priority_class)])


SESSION = None


class WineTestCase(unittest.TestCase):
    def run_tool(self, cmdline, targets=()):
        report = SESSION.run_tool(cmdline, targets)
        self.assertFalse(report["timed_out"], "the tool did not end: %s" % report)
        self.assertEqual(report["exit_code"], 0)
        # No console, no window of its own: message boxes at most.
        self.assertEqual(report["windows"], [])
        for target in report["targets"]:
            self.assertEqual(target["before"], NORMAL, "target did not start as NORMAL")
        return report

    def tool_args(self, tail):
        """The command line a shell would build: the quoted path, a blank, the tail."""
        return '"%s" %s' % (windows_path(SESSION.tool), tail)

    def assertBox(self, box, text, icon, classes_while_up):
        self.assertEqual(box["class"], "#32770")
        self.assertEqual(box["caption"], CAPTION)
        self.assertEqual(box["text"], text)
        self.assertEqual(box["icon"], icon, "icon match scores %s" % box["icon_match"])
        self.assertEqual(box["buttons"], ["OK"])
        self.assertTrue(box["dismissed"])
        self.assertEqual(box["target_classes"], classes_while_up)

    def assertUsageBox(self, box, classes_while_up):
        self.assertBox(box, USAGE_TEXT, "information", classes_while_up)

    def assertClasses(self, report, *after):
        self.assertEqual([t["after"] for t in report["targets"]], list(after))


class NoArguments(WineTestCase):
    def test_shows_only_the_usage_notice(self):
        target = SESSION.new_target()
        for cmdline in ['"%s"' % windows_path(SESSION.tool), "tolv.exe", "tolv"]:
            with self.subTest(cmdline=cmdline):
                report = self.run_tool(cmdline, [target])
                self.assertEqual(len(report["boxes"]), 1)
                self.assertUsageBox(report["boxes"][0], [NORMAL])
                self.assertClasses(report, NORMAL)


class CommandTail(WineTestCase):
    """How the program's own name is stripped from the raw command line."""

    def cases(self, name):
        path = windows_path(SESSION.tool)
        # (what, raw command line, whether the tail is "<name> IDLE")
        return [
            ("quoted name, no blank after it", '"%s"%s IDLE' % (path, name), True),
            ("quoted name, tab and blank after it", '"%s"\t %s IDLE' % (path, name), True),
            ("blanks and tabs before the name", ' \t "%s" %s IDLE' % (path, name), True),
            ("unquoted name ended by a tab", "tolv.exe\t%s\tIDLE" % name, True),
            ("quote inside an unquoted name", 'to"lv.exe %s IDLE' % name, True),
            ("unclosed quote", '"%s %s IDLE' % (path, name), False),
            ("blanks only", "tolv.exe   ", False),
            ("quoted name, blanks and tabs only", '"%s" \t \t' % path, False),
        ]

    def test_command_line_reaches_the_program_unchanged(self):
        # The other cases rely on the driver's command line reaching the
        # child byte for byte; the driver started as the child echoes it.
        echo = os.path.join(SESSION.work_dir, "echo.txt")
        for what, cmdline, _ in self.cases("x.exe"):
            with self.subTest(what):
                if os.path.exists(echo):
                    os.remove(echo)
                SESSION.run_tool(cmdline, tool=SESSION.driver, echo_file=echo)
                with open(echo, "rb") as f:
                    self.assertEqual(f.read().decode("latin-1"), cmdline)

    def test_tail_begins_after_the_program_name(self):
        for what, cmdline_template, is_tail in self.cases("{name}"):
            with self.subTest(what):
                target = SESSION.new_target()
                cmdline = cmdline_template.replace("{name}", os.path.basename(target))
                report = self.run_tool(cmdline, [target])
                if is_tail:
                    self.assertEqual(report["boxes"], [])
                    self.assertClasses(report, IDLE)
                else:
                    self.assertEqual(len(report["boxes"]), 1)
                    self.assertUsageBox(report["boxes"][0], [NORMAL])
                    self.assertClasses(report, NORMAL)


class PriorityChange(WineTestCase):
    def test_keyword_or_number_sets_the_class_silently(self):
        cases = [("IDLE", IDLE), ("BELOW_NORMAL", BELOW_NORMAL), ("HIGHEST", HIGH),
                 ("0x4000", BELOW_NORMAL), ("16384", BELOW_NORMAL), ("0X8000", ABOVE_NORMAL)]
        for priority, expected in cases:
            with self.subTest(priority):
                target = SESSION.new_target()
                report = self.run_tool(self.tool_args("%s %s" % (os.path.basename(target), priority)), [target])
                self.assertEqual(report["boxes"], [])
                self.assertClasses(report, expected)

    def test_name_matches_regardless_of_ascii_case(self):
        for listed, typed in [(str.lower, str.upper), (str.upper, str.lower)]:
            name = listed("tolvtgt_%s.exe" % secrets.token_hex(4))
            with self.subTest(listed=name):
                target = SESSION.new_target(name)
                report = self.run_tool(self.tool_args('"%s" IDLE' % typed(name)), [target])
                # The process list must report the name as the file has it,
                # or the case would not differ at all.
                self.assertEqual(report["targets"][0]["exe"], name)
                self.assertEqual(report["boxes"], [])
                self.assertClasses(report, IDLE)

    def test_only_the_first_listed_process_of_a_name_changes(self):
        target = SESSION.new_target()
        report = self.run_tool(self.tool_args("%s IDLE" % os.path.basename(target)), [target, target])
        self.assertEqual(report["boxes"], [])
        first = report["snapshot_order"][0]
        classes = {t["pid"]: t["after"] for t in report["targets"]}
        self.assertEqual(len(classes), 2)
        self.assertEqual(classes.pop(first), IDLE)
        self.assertEqual(list(classes.values()), [NORMAL])

    def test_nothing_happens_without_a_matching_process(self):
        target = SESSION.new_target()
        name = os.path.basename(target)
        for typed in ["tolvtgt_absent_%s.exe" % secrets.token_hex(4),  # no such process
                      name[:-len(".exe")],  # whole names only
                      '"%s "' % name]:  # a kept trailing blank is part of the name
            with self.subTest(typed=typed):
                report = self.run_tool(self.tool_args("%s IDLE" % typed), [target])
                self.assertEqual(report["boxes"], [])
                self.assertClasses(report, NORMAL)

    def test_lower_case_keyword_changes_nothing(self):
        target = SESSION.new_target()
        report = self.run_tool(self.tool_args("%s high" % os.path.basename(target)), [target])
        self.assertEqual(report["boxes"], [])
        self.assertClasses(report, NORMAL)

    def test_third_token_shows_usage_before_the_change(self):
        target = SESSION.new_target()
        report = self.run_tool(self.tool_args("%s IDLE extra" % os.path.basename(target)), [target])
        self.assertEqual(len(report["boxes"]), 1)
        # Unchanged while the notice is up: the change comes after it.
        self.assertUsageBox(report["boxes"][0], [NORMAL])
        self.assertClasses(report, IDLE)


class RefusedClass(WineTestCase):
    @classmethod
    def setUpClass(cls):
        # What the system itself answers for this class: the tool must show
        # that code, whatever this Wine version returns.
        cls.direct = SESSION.set_class(SESSION.new_target(), REFUSED_CLASS)

    def test_system_refuses_the_class(self):
        self.assertTrue(self.direct["opened"])
        self.assertEqual(self.direct["result"], 0)
        self.assertNotEqual(self.direct["error"], 0)
        self.assertEqual(self.direct["after"], NORMAL)

    def test_failure_notice_shows_the_system_error(self):
        target = SESSION.new_target()
        report = self.run_tool(self.tool_args("%s %d" % (os.path.basename(target), REFUSED_CLASS)), [target])
        self.assertEqual(len(report["boxes"]), 1)
        self.assertBox(report["boxes"][0], FAILURE_TEXT.format(self.direct["error"]), "error", [NORMAL])
        self.assertClasses(report, NORMAL)

    def test_usage_then_failure_notice(self):
        target = SESSION.new_target()
        report = self.run_tool(self.tool_args("%s %d extra" % (os.path.basename(target), REFUSED_CLASS)),
                               [target])
        self.assertEqual(len(report["boxes"]), 2)
        self.assertUsageBox(report["boxes"][0], [NORMAL])
        self.assertBox(report["boxes"][1], FAILURE_TEXT.format(self.direct["error"]), "error", [NORMAL])
        self.assertClasses(report, NORMAL)


class VirtualDisplay:
    """One Xvfb for the whole run, 24-bit so the icons read back exactly as drawn."""

    def __init__(self):
        self.process = None

    def start(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            [XVFB, "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Xvfb picks a free display and writes its number once it accepts clients.
        with os.fdopen(read_end) as announcement:
            number = announcement.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        os.environ["DISPLAY"] = ":" + number

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(timeout=30)
            self.process = None


def run_tests(args, unittest_argv):
    global SESSION
    SESSION = WineSession(args.win64_dir, args.work_dir)
    missing = SESSION.missing_files()
    if missing:
        print("missing %s: build the win64 preset first "
              "(cmake --preset win64 && cmake --build --preset win64)" % ", ".join(missing), file=sys.stderr)
        return 1

    # Two test runs in one build tree would wipe each other's prefix: the
    # second waits for the first.
    os.makedirs(os.path.dirname(SESSION.work_dir), exist_ok=True)
    lock = open(SESSION.work_dir + ".lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print("waiting for another Wine test run in %s" % SESSION.work_dir, file=sys.stderr)
        fcntl.flock(lock, fcntl.LOCK_EX)

    # Stopped from outside: end the run and clean up all the same. unittest
    # records any other exception as a test error and carries on.
    def stop(_signum, _frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)
    display = VirtualDisplay()
    passed = False
    try:
        started = time.monotonic()
        display.start()
        SESSION.env["DISPLAY"] = os.environ["DISPLAY"]
        SESSION.start()
        print("wine prefix ready in %.1f s" % (time.monotonic() - started), file=sys.stderr)
        program = unittest.main(module=__name__, argv=[sys.argv[0]] + unittest_argv, exit=False, verbosity=2)
        passed = program.result.wasSuccessful()
    finally:
        SESSION.stop()
        display.stop()
        # Keep the prefix of a failed run for a look inside; it is large.
        if passed:
            SESSION.remove()
    return 0 if passed else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--win64-dir", required=True, help="build tree of the win64 preset")
    parser.add_argument("--work-dir", required=True, help="where the Wine prefix and targets go")
    args, unittest_argv = parser.parse_known_args()

    if WINE is None or WINESERVER is None:
        print("SKIP: wine64 is not installed (apt-get install wine64)", file=sys.stderr)
        return SKIP
    if XVFB is None:
        print("SKIP: Xvfb is not installed (apt-get install xvfb)", file=sys.stderr)
        return SKIP
    return run_tests(args, unittest_argv)


if __name__ == "__main__":
    sys.exit(main())
