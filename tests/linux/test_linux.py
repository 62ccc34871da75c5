#!/usr/bin/python3
"""End-to-end tests of the native tolv against real processes started under names of their own; the
effect is read as the nice of every thread.  test_linux.py TOLV TOLV_ASAN TARGET PROBE CASE (77: skipped)"""
import os, random, shutil, string, subprocess, sys, tempfile, time

TOLV, TOLV_ASAN, TARGET, PROBE, CASE = sys.argv[1:6]
DIR = tempfile.mkdtemp(prefix="tolv-linux-")
os.chmod(DIR, 0o755)  # other users run tolv from here
TOKEN = "".join(random.choice(string.ascii_lowercase) for _ in range(6))
PROCS = []
AS_1000, AS_NOBODY = (["setpriv", "--reuid=%d" % u, "--regid=%d" % u, "--clear-groups"] for u in (1000, 65534))
USAGE = ("Tolvenar\nTolvenar Reference\n\nArguments:\n tolv \"Module File\" PRIORITY\n\n \"Module File\" parameters"
         " is .EXE file name\n\ncommand line samples:\n(for InternetExplorer)\n \"iexplore.exe\" BELOW_NORMAL\n\n(for"
         " WMP)\n \"wmplayer.exe\" IDLE\n\nPriority Parameters:\n REALTIME=256\n HIGHEST=128\n HIGH=128\n"
         " ABOVE_NORMAL=32768\n NORMAL=32\n BELOW_NORMAL=16384\n IDLE=64\n")
FAILURE = "Tolvenar\nSetPriorityClass function error\n\nGetLastError()=%d\n"


def skip_unless(ok, why):
    if not ok:
        sys.exit(print("SKIP:", why) or 77)


def name(prefix, length=0):
    return (prefix + TOKEN).ljust(length, "x")  # a name no other process has


def start(path, prefix=(), copy=True):
    """Starts a copy of the target (or the program) at DIR/path and waits for it to be ready."""
    path = os.path.join(DIR, path)
    if copy and not os.path.exists(path):
        shutil.copy(TARGET, path)
    PROCS.append(subprocess.Popen([*prefix, path], stdin=subprocess.PIPE, stdout=subprocess.PIPE))
    assert PROCS[-1].stdout.readline() == b"ready\n", path
    return PROCS[-1]


def stat(pid, field):  # a field of a stat record, counted from 3 as in proc(5)
    return open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[field - 3]


def tolv(*args, command=(TOLV,), stdout=subprocess.PIPE, env=None):
    run = subprocess.run([*command, *args], stdout=stdout, stderr=subprocess.PIPE, text=True, env=env)
    assert run.returncode == 0, (args, run.returncode, run.stderr)
    # valgrind's own notes ("--PID-- WARNING: unhandled ... syscall: 434") are not tolv's
    return run.stdout, "".join(line for line in run.stderr.splitlines(True) if not line.startswith("--"))


def assert_eq(got, expected):
    assert got == expected, (got, expected)


def check(proc, nice, out_err, expected=("", "")):
    assert out_err == expected, out_err
    nices = {int(stat("%d/task/%s" % (proc.pid, tid), 19)) for tid in os.listdir("/proc/%d/task" % proc.pid)}
    assert nices == {nice}, (proc.args, nices, nice)


def change():  # names over 15 characters; of duplicates only the first in PID order changes
    for length in (16, 40):
        first, second = sorted((start(name("n%d" % length, length)) for _ in range(2)), key=lambda p: p.pid)
        check(first, 19, tolv(name("n%d" % length, length), "IDLE"))
        check(second, 0, ("", ""))


def notices():  # three tokens: the usage notice, and the change all the same; as nobody: refused
    target = start(name("notice"))
    check(target, 10, tolv(name("notice"), "BELOW_NORMAL", "extra"), (USAGE, ""))
    command = AS_NOBODY + [shutil.copy(TOLV, DIR)]
    check(target, 10, tolv(name("notice"), "NORMAL", command=command), ("", FAILURE % 5))


def memory(command, env=None):  # success, usage and failure
    target = start(name("mem"))
    check(target, 19, tolv(name("mem"), "IDLE", command=command, env=env))
    assert tolv(command=command, env=env) == (USAGE, "")
    check(target, 19, tolv(name("mem"), "12345", command=command, env=env), ("", FAILURE % 87))


def memcheck():
    skip_unless(shutil.which("valgrind"), "valgrind is missing")
    memory(["valgrind", "-q", "--error-exitcode=1", "--leak-check=full", TOLV])


def asan():  # valgrind 3.19 does not know pidfd_open: the pidfd path is checked here
    memory([TOLV_ASAN], dict(os.environ, ASAN_OPTIONS="detect_leaks=1"))


def sigpipe():
    target = start(name("pipe"))
    reader, writer = os.pipe()
    os.close(reader)
    check(target, 19, tolv(name("pipe"), "IDLE", "extra", stdout=writer), (None, ""))


def reuse():  # the listed process ends and its number goes to another before the open
    skip_unless(os.access("/proc/sys/kernel/ns_last_pid", os.W_OK), "ns_last_pid is not writable")
    for _ in range(20):  # other tests may take the number first
        target = start(name("reuse"))
        probe = subprocess.Popen([PROBE, name("reuse")], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        PROCS.append(probe)
        assert int(probe.stdout.readline()) == target.pid
        target.kill()
        target.wait()
        with open("/proc/sys/kernel/ns_last_pid", "w") as f:
            f.write(str(target.pid - 1))
        PROCS.append(subprocess.Popen(["sleep", "60"]))
        if PROCS[-1].pid == target.pid:
            return assert_eq(probe.communicate("\n")[0], "87\n")
    skip_unless(False, "the number was never reused")


def emfile():  # no file left to open: the walk ends with the error, and passes over no process
    start(name("emfile"))
    assert_eq(subprocess.run([PROBE, name("emfile"), "emfile"], capture_output=True, text=True).stdout, "end 4\n")


def script():  # its comm is the script's name cut to 15; argv[0] and exe are the interpreter's
    path = os.path.join(DIR, name("scr") + "-nightly-run.sh")
    with open(path, "w") as f:
        f.write("#!/bin/sh -e\necho ready\nread line\n")
    os.chmod(path, 0o755)
    target = start(path, copy=False)
    check(target, 0, tolv(os.path.basename(path)[:15], "IDLE"))
    check(target, 19, tolv(os.path.basename(path), "IDLE"))


def link():  # found by the name it was started under, the link's, not its target's
    stem = name("lnk", 15)
    shutil.copy(TARGET, os.path.join(DIR, stem + "_real"))
    os.symlink(stem + "_real", os.path.join(DIR, stem + "_link"))
    target = start(stem + "_link", copy=False)
    check(target, 0, tolv(stem + "_real", "IDLE"))
    check(target, 19, tolv(stem + "_link", "IDLE"))


def userns():  # nested, root shows as 65534: a zombie of the name must not pass for running
    skip_unless(shutil.which("unshare") and shutil.which("setpriv"), "util-linux is missing")
    zombie = start(name("zomb"), prefix=AS_1000)
    zombie.kill()
    while stat(zombie.pid, 3) != "Z":
        time.sleep(0.01)
    target = start(name("zomb"), prefix=AS_1000)
    command = AS_1000 + ["unshare", "-Ur", "unshare", "-Ur", shutil.copy(TOLV, DIR)]
    check(target, 19, tolv(name("zomb"), "IDLE", command=command))


def quote():  # a program path with a double quote and a blank still reads back as one name
    os.mkdir(os.path.join(DIR, 'a"b c'))
    target = start(name("quote"))
    check(target, 19, tolv(name("quote"), "IDLE", command=[shutil.copy(TOLV, os.path.join(DIR, 'a"b c'))]))


try:
    globals()[CASE]()
finally:
    for proc in PROCS:
        proc.kill()
        proc.wait()
    shutil.rmtree(DIR, ignore_errors=True)
