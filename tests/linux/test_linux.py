#!/usr/bin/python3
"""End-to-end tests of the native tolv: it runs against real processes that
the tests start under names of their own, and its effect is read from outside,
as the nice value of every thread in /proc/PID/task/TID/stat.

    test_linux.py --tolv TOLV --sleeper SLEEPER GROUP

GROUP is one of the test classes below. A group whose every test had to be
skipped exits with 77, which CTest reports as skipped.
"""

import argparse
import os
import random
import resource
import select
import shutil
import signal
import string
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
TOLV = SLEEPER = None

USAGE = (
    "Tolvenar\n"
    "Tolvenar Reference\n\nArguments:\n tolv \"Module File\" PRIORITY"
    "\n\n \"Module File\" parameters is .EXE file name"
    "\n\ncommand line samples:"
    "\n(for InternetExplorer)\n \"iexplore.exe\" BELOW_NORMAL\n\n(for WMP)\n \"wmplayer.exe\" IDLE"
    "\n\nPriority Parameters:"
    "\n REALTIME=256\n HIGHEST=128\n HIGH=128\n ABOVE_NORMAL=32768\n NORMAL=32\n BELOW_NORMAL=16384\n IDLE=64\n"
)


def failure_notice(code):
    return "Tolvenar\nSetPriorityClass function error\n\nGetLastError()=%d\n" % code


def is_root():
    return os.geteuid() == 0


def stat_fields(path):
    """Fields 3 onwards of a stat record; the name may hold blanks and ')'."""
    with open(path) as f:
        text = f.read()
    return text[text.rindex(")") + 2:].split()


def thread_nices(pid, live_only=False):
    """{tid: nice} for every thread of pid (field 19 of each thread's stat)."""
    nices = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            fields = stat_fields("/proc/%d/task/%s/stat" % (pid, tid))
        except FileNotFoundError:
            continue  # ended meanwhile
        if live_only and fields[0] == "Z":
            continue
        nices[int(tid)] = int(fields[16])
    return nices


def process_state(pid):
    return stat_fields("/proc/%d/stat" % pid)[0]


def as_nobody(directory):
    """The command that runs a copy of tolv in directory as the user nobody."""
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        raise unittest.SkipTest("setpriv (util-linux) is missing")
    tolv = os.path.join(directory, "tolv")
    shutil.copy(TOLV, tolv)
    return [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", tolv]


class TolvTestCase(unittest.TestCase):
    """Fresh temporary directory and unique names per test; every process a
    test starts is killed when it ends, also when it fails."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tolv-linux-")
        # Readable by all: one test runs tolv as another user.
        os.chmod(self.dir, 0o755)
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.token = "".join(random.choice(string.ascii_lowercase + string.digits) for _ in range(6))

    def name(self, prefix, length=None):
        """A name no other process has: prefix and the test's token, padded
        with 'x' to length characters when given."""
        name = prefix + self.token
        if length is not None:
            self.assertLessEqual(len(name), length)
            name = name + "x" * (length - len(name))
        return name

    def executable(self, name):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            shutil.copy(SLEEPER, path)
        return path

    def start(self, name, *args, ready=True):
        """Starts the sleeper under that file name and waits for it to report ready."""
        proc = subprocess.Popen([self.executable(name), *args], stdout=subprocess.PIPE)
        self.addCleanup(self.stop, proc)
        if ready:
            self.read_line(proc, "ready")
        return proc

    def stop(self, proc):
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc.stdout.close()

    def read_line(self, proc, expected, timeout=10):
        ready, _, _ = select.select([proc.stdout], [], [], timeout)
        self.assertTrue(ready, "%s: no '%s' within %ds" % (proc.args[0], expected, timeout))
        self.assertEqual(proc.stdout.readline().decode().strip(), expected)

    def zombie(self, name):
        """A process of that name that has ended and is not reaped yet."""
        proc = subprocess.Popen([self.executable(name), "--exit"], stdout=subprocess.DEVNULL)
        self.addCleanup(proc.wait)
        self.wait_for(lambda: process_state(proc.pid) == "Z", "%d to become a zombie" % proc.pid)
        return proc

    def wait_for(self, condition, what, timeout=10):
        deadline = time.monotonic() + timeout
        while not condition():
            self.assertLess(time.monotonic(), deadline, "timed out waiting for " + what)
            time.sleep(0.01)

    def tolv(self, *args, command=None, timeout=30):
        """Runs tolv with these arguments; its exit code must be 0 whatever happens."""
        result = subprocess.run((command or [TOLV]) + list(args), capture_output=True, text=True,
                                timeout=timeout)
        self.assertEqual(result.returncode, 0, "tolv %s: exit code; stderr: %s" % (args, result.stderr))
        return result.stdout, result.stderr

    def assertSilent(self, out_err):
        self.assertEqual(out_err, ("", ""))

    def assertNice(self, proc, nice, live_only=False):
        nices = thread_nices(proc.pid, live_only)
        self.assertTrue(nices, "no thread of %d" % proc.pid)
        wrong = {tid: n for tid, n in nices.items() if n != nice}
        self.assertEqual(wrong, {}, "threads of %d (of %d) whose nice is not %d" % (proc.pid, len(nices), nice))


class Lookup(TolvTestCase):
    """Which process a name picks."""

    def test_name_compared_regardless_of_ascii_case(self):
        target = self.start(self.name("MiXed_"), "--threads", "3")
        self.assertSilent(self.tolv(self.name("mixed_"), "BELOW_NORMAL"))
        self.assertNice(target, 10)
        self.assertSilent(self.tolv(self.name("MIXED_").upper(), "IDLE"))
        self.assertNice(target, 19)

    def test_only_first_of_duplicates_in_pid_order(self):
        name = self.name("dup_")
        first, second = self.start(name), self.start(name)
        if first.pid > second.pid:  # numbers wrapped around
            first, second = second, first
        self.assertSilent(self.tolv(name, "IDLE"))
        self.assertNice(first, 19)
        self.assertNice(second, 0)

    def test_names_the_kernel_cuts(self):
        # The kernel keeps 15 characters of a name; the match is on the whole one.
        for length in (14, 15, 16, 40):
            with self.subTest(length=length):
                name = self.name("n%d_" % length, length)
                target = self.start(name)
                self.assertSilent(self.tolv(name, "IDLE"))
                self.assertNice(target, 19)

    def test_shared_first_fifteen_characters(self):
        prefix = self.name("p", 15)
        one, two = self.start(prefix + "_one"), self.start(prefix + "_two")
        # The one listed first is the decoy: a match on the kernel's 15
        # characters would pick it.
        decoy, target, name = (one, two, prefix + "_two") if one.pid < two.pid else (two, one, prefix + "_one")
        self.assertSilent(self.tolv(name, "IDLE"))
        self.assertNice(target, 19)
        self.assertNice(decoy, 0)
        # Nor does the cut name match either of them.
        self.assertSilent(self.tolv(prefix, "BELOW_NORMAL"))
        self.assertNice(target, 19)
        self.assertNice(decoy, 0)

    def test_no_match_changes_nothing_and_says_nothing(self):
        target = self.start(self.name("here_"))
        for name in (self.name("absent_"), self.name("here_") + ".exe", self.name("here")):
            with self.subTest(name=name):
                self.assertSilent(self.tolv(name, "IDLE"))
        self.assertNice(target, 0)

    def test_thread_names_are_not_process_names(self):
        target = self.start(self.name("proc_"), "--thread-name", self.name("thr_"))
        self.assertSilent(self.tolv(self.name("thr_"), "IDLE"))
        self.assertNice(target, 0)

    def test_quoted_name_with_a_blank(self):
        name = self.name("My App ")
        target = self.start(name)
        # One argument that holds a blank: tolv must quote it for its parser.
        self.assertSilent(self.tolv(name, "IDLE"))
        self.assertNice(target, 19)
        # As two arguments it is two tokens: the usage notice, and no change.
        self.assertEqual(self.tolv(*name.split(" ", 1), "BELOW_NORMAL"), (USAGE, ""))
        self.assertNice(target, 19)

    def test_long_name_found_without_access_to_the_executable(self):
        # Run by nobody, tolv may not read where a root process's executable
        # is; the full name then comes from its command line. The refusal
        # shows that the process was found.
        if not is_root():
            self.skipTest("needs root, to run tolv as another user")
        name = self.name("long_", 30)
        target = self.start(name)
        out_err = self.tolv(name, "HIGH", command=as_nobody(self.dir))
        self.assertEqual(out_err, ("", failure_notice(5)))
        self.assertNice(target, 0)

    def test_ended_process_is_skipped(self):
        name = self.name("zomb_")
        for _ in range(3):
            dead = self.zombie(name)
            live = self.start(name)
            if dead.pid < live.pid:
                break  # else the numbers wrapped around in between: again
        self.assertLess(dead.pid, live.pid)
        self.assertSilent(self.tolv(name, "IDLE"))
        self.assertNice(live, 19)

    def test_process_whose_first_thread_ended_is_found(self):
        target = self.start(self.name("lead_"), "--threads", "3", "--leader-exits")
        self.wait_for(lambda: process_state(target.pid) == "Z", "the first thread to end")
        self.assertSilent(self.tolv(self.name("lead_"), "IDLE"))
        self.assertNice(target, 19, live_only=True)


    def test_program_path_with_a_blank(self):
        # The program's own name is quoted too, or its second half would
        # become the first token.
        tolv = os.path.join(self.dir, "my tolv")
        shutil.copy(TOLV, tolv)
        target = self.start(self.name("path_"))
        self.assertSilent(self.tolv(self.name("path_"), "IDLE", command=[tolv]))
        self.assertNice(target, 19)


class Change(TolvTestCase):
    """What a change does to the target's threads."""

    # In an order in which each step changes every thread.
    KEYWORDS = [("BELOW_NORMAL", 10), ("IDLE", 19), ("NORMAL", 0), ("ABOVE_NORMAL", -6),
                ("HIGH", -11), ("REALTIME", -19), ("HIGHEST", -11)]

    def test_keywords_set_every_thread(self):
        target = self.start(self.name("kw_"), "--threads", "6")
        current = 0
        for keyword, nice in self.KEYWORDS:
            with self.subTest(keyword=keyword):
                if nice < current and not is_root():
                    self.skipTest("lowering nice needs root")
                self.assertSilent(self.tolv(self.name("kw_"), keyword))
                self.assertNice(target, nice)
                current = nice

    def test_numeric_classes(self):
        target = self.start(self.name("num_"), "--threads", "3")
        for number, nice in (("16384", 10), ("0x40", 19)):
            with self.subTest(number=number):
                self.assertSilent(self.tolv(self.name("num_"), number))
                self.assertNice(target, nice)

    def test_threads_started_during_the_change(self):
        # The creators start threads the moment the first thread changes; the
        # 800 threads listed ahead of them give them time to start some that
        # inherit the old nice before they are changed themselves.
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                name = self.name("spawn%d_" % attempt)
                target = self.start(name, "--threads", "800", "--creators", "4", "--per-creator", "100")
                self.assertSilent(self.tolv(name, "IDLE"))
                self.read_line(target, "spawned")
                self.assertEqual(len(thread_nices(target.pid)), 800 + 4 + 4 * 100)
                self.assertNice(target, 19)
                self.stop(target)


class Notices(TolvTestCase):
    """What tolv prints, where, and what it still does after."""

    def test_no_arguments_prints_usage_only(self):
        self.assertEqual(self.tolv(), (USAGE, ""))

    def test_three_tokens_print_usage_and_still_change(self):
        target = self.start(self.name("three_"), "--threads", "3")
        self.assertEqual(self.tolv(self.name("three_"), "IDLE", "extra"), (USAGE, ""))
        self.assertNice(target, 19)

    def test_unknown_class_is_refused(self):
        target = self.start(self.name("bad_"))
        self.assertEqual(self.tolv(self.name("bad_"), "12345"), ("", failure_notice(87)))
        self.assertNice(target, 0)

    def test_refused_change_reports_access_denied(self):
        if is_root():
            # A root-owned target, and tolv run by nobody.
            command = as_nobody(self.dir)
        else:
            # A target of our own, which we may not raise.
            soft, _ = resource.getrlimit(resource.RLIMIT_NICE)
            if soft == resource.RLIM_INFINITY or 20 - soft <= -11:
                self.skipTest("RLIMIT_NICE lets this user raise priorities")
            command = None
        target = self.start(self.name("deny_"), "--threads", "3")
        self.assertEqual(self.tolv(self.name("deny_"), "HIGH", command=command), ("", failure_notice(5)))
        self.assertNice(target, 0)


class Valgrind(TolvTestCase):
    """tolv under memcheck: no error and no byte left allocated, on each path."""

    def setUp(self):
        super().setUp()
        self.valgrind = shutil.which("valgrind")
        if self.valgrind is None:
            self.skipTest("valgrind is missing")

    def memcheck(self, *args):
        log = os.path.join(self.dir, "memcheck.log")
        command = [self.valgrind, "--error-exitcode=1", "--leak-check=full", "--show-leak-kinds=all",
                   "--errors-for-leak-kinds=all", "--log-file=" + log, TOLV]
        result = subprocess.run(command + list(args), capture_output=True, text=True, timeout=120)
        with open(log) as f:
            report = f.read()
        self.assertEqual(result.returncode, 0, report)
        self.assertIn("ERROR SUMMARY: 0 errors", report)
        self.assertIn("All heap blocks were freed", report)
        return result.stdout, result.stderr

    def test_change(self):
        target = self.start(self.name("vg_"), "--threads", "3")
        self.assertSilent(self.memcheck(self.name("vg_"), "IDLE"))
        self.assertNice(target, 19)

    def test_usage(self):
        self.assertEqual(self.memcheck(), (USAGE, ""))

    def test_failure_notice(self):
        target = self.start(self.name("vgbad_"))
        self.assertEqual(self.memcheck(self.name("vgbad_"), "12345"), ("", failure_notice(87)))
        self.assertNice(target, 0)


def main():
    global TOLV, SLEEPER
    parser = argparse.ArgumentParser()
    parser.add_argument("--tolv", required=True)
    parser.add_argument("--sleeper", required=True)
    parser.add_argument("group")
    args = parser.parse_args()
    TOLV, SLEEPER = os.path.abspath(args.tolv), os.path.abspath(args.sleeper)

    suite = unittest.defaultTestLoader.loadTestsFromName(args.group, sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        for test, reason in result.skipped:
            print("SKIP: %s: %s" % (test.id(), reason))
        return SKIP
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main())
