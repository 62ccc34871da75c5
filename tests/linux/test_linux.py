#!/usr/bin/python3
# End-to-end tests of the native tolv against real processes started under names of their own, each in a
# session of its own; the effect is read as the nice and policy of every thread and the nice of the session's
# autogroup.  test_linux.py TOLV TOLV_ASAN TARGET PROBE CASE  (exit 77: skipped)
import os, random, resource, shutil, string, subprocess, sys, tempfile, time, types

TOLV, TOLV_ASAN, TARGET, PROBE, CASE = sys.argv[1:6]
DIR = tempfile.mkdtemp(prefix="tolv-linux-")
os.chmod(DIR, 0o755)  # other users run tolv from here
os.setpriority(os.PRIO_PROCESS, 0, 0)  # the targets start from nice 0, whatever this test was started with
TOKEN = "".join(random.choice(string.ascii_lowercase) for _ in range(6))
PROCS, PIPE = [], subprocess.PIPE
AS_1000, AS_NOBODY = (["setpriv", "--reuid=%d" % u, "--regid=%d" % u, "--clear-groups"] for u in (1000, 65534))
USAGE = "Tolvenar\nTolvenar Reference\n\nArguments:\n"  # the caption, then the text (its words: tests/unit)
FAILURE = "Tolvenar\nSetPriorityClass function error\n\nGetLastError()=%d\n"


def skip(why):
    sys.exit(print("SKIP:", why) or 77)


need = lambda tool: shutil.which(tool) or skip("no " + tool)


def name(prefix, length=0):
    return (prefix + TOKEN).ljust(length, "x")  # a name no other process has


def start(path, *args, prefix=(), argv0=None):  # DIR/path, a copy of the target unless it exists
    path = os.path.join(DIR, path)
    os.path.exists(path) or shutil.copy(TARGET, path)
    PROCS.append(subprocess.Popen([*prefix, argv0 or path, *args], executable=argv0 and path, stdin=PIPE, stdout=PIPE,
                                  start_new_session=True))
    assert PROCS[-1].stdout.readline() == b"ready\n", path
    return PROCS[-1]


def stat(pid, field):  # a field of a stat record, counted from 3 as in proc(5)
    return open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[field - 3]


def wait_for_zombie(pid):
    while stat(pid, 3) != "Z":
        time.sleep(0.01)


def probe(**kwargs):
    PROCS.append(subprocess.Popen([PROBE, name("probe")], stdin=PIPE, stdout=PIPE, text=True, start_new_session=True,
                                  **kwargs))
    return PROCS[-1]


def tolv(*args, command=(TOLV,), stdout=PIPE):
    run = subprocess.run([*command, *args], stdout=stdout, stderr=PIPE, text=True)
    assert run.returncode == 0, (args, run.returncode, run.stderr)  # valgrind's own notes are not tolv's:
    return run.stdout, "".join(line for line in run.stderr.splitlines(True) if not line.startswith("--"))


def eq(got, expected):
    assert got == expected, (got, expected)


def child(proc):  # the first child of a process's first thread
    return types.SimpleNamespace(pid=int(open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)).read().split()[0]))


def threads(pid):  # each thread's nice and policy
    return {(int(stat("%d/task/%s" % (pid, tid), 19)), os.sched_getscheduler(int(tid))) for tid in os.listdir(
        "/proc/%d/task" % pid)}


def check(proc, nice, out_err, expected=("", ""), group=None):  # IDLE alone: SCHED_IDLE; the group follows
    eq(out_err, expected)
    eq(threads(proc.pid), {(nice, os.SCHED_IDLE if nice == 19 else os.SCHED_OTHER)})
    eq(int(open("/proc/%d/autogroup" % proc.pid).read().split()[-1]), nice if group is None else group)


def change():  # names over 15 characters, duplicates (only the first in PID order), every class, a zombie leader
    for length in (16, 40):
        first, second = sorted((start(name("n%d" % length, length)) for _ in range(2)), key=lambda p: p.pid)
        for cls, nice in (("IDLE", 19), ("NORMAL", 0), ("ABOVE_NORMAL", -6), ("HIGH", -11), ("REALTIME", -19)):
            check(first, nice, tolv(name("n%d" % length, length), cls))
        check(second, 0, ("", ""))
    wait_for_zombie(start(name("leader"), "exit-leader").pid)
    check(PROCS[-1], 10, tolv(name("leader"), "BELOW_NORMAL"))


def notices():  # three tokens: the usage notice, and the change all the same; as nobody: refused, also
    target = start(name("notice"))  # where the nice would stay as it is
    out, err = tolv(name("notice"), "BELOW_NORMAL", "extra")
    check(target, 10, (out.startswith(USAGE) and out.endswith("\n BELOW_NORMAL=16384\n IDLE=64\n"), err), (True, ""))
    nobody = AS_NOBODY + [shutil.copy(TOLV, DIR)]
    for cls in ("NORMAL", "BELOW_NORMAL"):
        check(target, 10, tolv(name("notice"), cls, command=nobody), ("", FAILURE % 5))


def memory(command):  # success, usage and failure
    target = start(name("mem"))
    check(target, 19, tolv(name("mem"), "IDLE", command=command))
    eq(tolv(command=command)[0][:len(USAGE)], USAGE)
    check(target, 19, tolv(name("mem"), "12345", command=command), ("", FAILURE % 87))


def walk_cost():  # no stat record read for a running process: kernel threads and cheap proofs settle them
    before = sum(entry.isdigit() for entry in os.listdir("/proc"))
    target, log = start(name("cost")), os.path.join(DIR, "log")
    check(target, 19, tolv(name("cost"), "IDLE", command=[need("strace"), "-f", "-o", log, "-e", "openat", TOLV]))
    assert open(log).read().count('/stat"') <= 3 + before / 4, open(log).read()


def sigpipe():  # stdout a pipe whose reader has gone: the notice is lost, not the change
    reader, writer = os.pipe()
    os.close(reader)
    check(start(name("pipe")), 19, tolv(name("pipe"), "IDLE", "extra", stdout=writer), (None, ""))


def reuse():  # the listed process ends and its number goes to another before the open
    for _ in range(20):  # other tests may take the number first
        target, prober = start(name("probe")), probe()
        eq(int(prober.stdout.readline()), target.pid)
        target.kill()
        target.wait()
        open("/proc/sys/kernel/ns_last_pid", "w").write(str(target.pid - 1))  # closed, so written, at once
        PROCS.append(subprocess.Popen(["sleep", "60"]))
        if PROCS[-1].pid == target.pid:
            return eq((prober.communicate("\n")[0], prober.returncode), ("87\n", 0))
    skip("the number was never reused")


def emfile():  # no file left to open: the walk ends with the error, and passes over no process
    start(name("probe"))  # fds 0-2, and 3 for /proc:
    eq(probe(preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (4, 4))).communicate()[0], "end 4\n")


def script():  # its comm is the script's name cut to 15; argv[0] and exe are the interpreter's
    path = os.path.join(DIR, name("scr") + "-nightly-run.sh")
    open(path, "w").write("#!/bin/sh -e\necho ready\nread line\n")
    os.chmod(path, 0o755)
    target = start(path)
    check(target, 0, tolv(os.path.basename(path)[:15], "IDLE"))
    check(target, 19, tolv(os.path.basename(path), "IDLE"))


def link():  # found by the name it was started under, the link's, not its target's
    stem = name("lnk", 15)
    shutil.copy(TARGET, os.path.join(DIR, stem + "_real"))
    os.symlink(stem + "_real", os.path.join(DIR, stem + "_link"))
    target = start(stem + "_link")
    check(target, 0, tolv(stem + "_real", "IDLE"))
    check(target, 19, tolv(stem + "_link", "IDLE"))
    target = start(name("deleted", 20), argv0="other")  # argv[0] another name: the executable's, though deleted
    os.remove(os.path.join(DIR, name("deleted", 20)))
    check(target, 19, tolv(name("deleted", 20), "IDLE"))


def userns():  # nested, root shows as 65534: a zombie of the name must not pass for running
    zombie = start(name("zomb"), prefix=AS_1000)
    zombie.kill()
    wait_for_zombie(zombie.pid)
    target = start(name("zomb"), prefix=AS_1000)
    check(target, 10, tolv(name("zomb"), "BELOW_NORMAL"))  # as root, outside
    nested = AS_1000 + [need("unshare"), "-Ur", "unshare", "-Ur", shutil.copy(TOLV, DIR)]
    check(target, 19, tolv(name("zomb"), "IDLE", command=nested))


def quote():  # a program path with a double quote and a blank still reads back as one name
    os.mkdir(os.path.join(DIR, 'a"b c'))
    check(start(name("quote")), 19, tolv(name("quote"), "IDLE", command=[shutil.copy(TOLV, os.path.join(DIR, 'a"b c'))]))


def policy():  # a thread the program made real-time keeps its policy; NORMAL undoes IDLE
    target = start(name("fifo"))
    fifo = max(map(int, os.listdir("/proc/%d/task" % target.pid)))
    os.sched_setscheduler(fifo, os.SCHED_FIFO, os.sched_param(1))
    for cls, nice, policy in (("IDLE", 19, os.SCHED_IDLE), ("NORMAL", 0, os.SCHED_OTHER)):
        tolv(name("fifo"), cls)
        eq(threads(target.pid), {(nice, policy), (nice, os.SCHED_FIFO)})


def session():  # the group changes only where each other process of the session is the target's own
    open(os.path.join(DIR, name("desc")), "w").write("#!/bin/sh\nsleep 60 &\necho ready\nwait\n")
    os.chmod(os.path.join(DIR, name("desc")), 0o755)
    for shell, group in (('"$0" & wait', 19), ('"$0" & sleep 60 & wait', 0), ('(sleep 60 &); "$0" & wait', 0)):
        target = child(start(name("s%d" % len(PROCS)), prefix=("sh", "-c", shell)))  # its shell, a sibling, an orphan
        check(target, 19, tolv(name("s%d" % (len(PROCS) - 1)), "IDLE"), group=group)
    target = start(name("desc"))  # a child of its own
    check(target, 19, tolv(name("desc"), "IDLE"))


def again():  # as a user two runs in a row, the second within 100 ms, which the group file refuses at first
    target, user = start(name("again"), prefix=AS_1000), AS_1000 + [shutil.copy(TOLV, DIR)]
    check(target, 10, tolv(name("again"), "BELOW_NORMAL", command=user))
    check(target, 19, tolv(name("again"), "IDLE", command=user))


def cgroup():  # in a cpu cgroup of its own a process competes as the cgroup: only its threads change
    root = "/sys/fs/cgroup/cpu"
    os.path.isdir(root) or skip("no cpu hierarchy of cgroup v1 to make a group in")
    target, path = start(name("cg")), os.path.join(root, name("tolv"))
    os.mkdir(path)
    try:
        open(path + "/cgroup.procs", "w").write(str(target.pid))
        check(target, 19, tolv(name("cg"), "IDLE"), group=0)
    finally:
        open(root + "/cgroup.procs", "w").write(str(target.pid))
        os.rmdir(path)


def pidns():  # a /proc of another PID namespace: its numbers name other processes here, so nothing is changed
    decoy = start(name("decoy"))
    ns = ("unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "sh", "-c",
          "echo %d >/proc/sys/kernel/ns_last_pid; \"$0\" & wait" % (decoy.pid - 1))
    target = child(child(start(name("inner"), prefix=ns)))
    check(target, 0, tolv(name("inner"), "IDLE", command=["nsenter", "-t", str(target.pid), "-m", TOLV]))
    check(decoy, 0, ("", ""))


def hidepid():  # other users' entries unreadable: passed over, not the end of the walk
    target = start(name("hide"), prefix=AS_1000)
    hidden = ("unshare", "-m", "sh", "-c", 'mount -t proc -o hidepid=1 proc /proc && exec "$@"', "sh")
    check(target, 19, tolv(name("hide"), "IDLE", command=[*hidden, *AS_1000, shutil.copy(TOLV, DIR)]))


memcheck = lambda: memory([need("valgrind"), "-q", "--error-exitcode=1", "--leak-check=full", TOLV])
asan = lambda: memory([TOLV_ASAN])  # valgrind 3.19 does not know pidfd_open: ASan and LSan check the pidfd path
try:
    globals()[CASE]()
finally:
    for proc in PROCS:
        try:
            os.killpg(proc.pid, 9)  # its session's other processes too
        except ProcessLookupError:
            proc.kill()
        proc.wait()
    shutil.rmtree(DIR, ignore_errors=True)
