"""End-to-end tests of the native tolv on processes started under names of their own, each in a
session of its own. Usage: test_linux.py TOLV TOLV_ASAN TARGET PROBE CASE  (exit 77: skipped)"""
import contextlib, os, pathlib, random, re, shutil, signal, string, subprocess, sys, tempfile, time
from subprocess import PIPE

TOLV, TOLV_ASAN, TARGET, PROBE, CASE = sys.argv[1:6]
DIR = tempfile.mkdtemp(prefix="tolv-linux-")
os.chmod(DIR, 0o755)  # other users run tolv from here
os.setpriority(os.PRIO_PROCESS, 0, 0)  # the targets start from nice 0 and from SCHED_OTHER,
os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))  # whatever this test inherited
TOKEN = "".join(random.choice(string.ascii_lowercase) for _ in range(6))
PROCS = []
AS_USER = ["setpriv", "--reuid=1000", "--regid=1000", "--clear-groups"]
HIDEPID = ["unshare", "-m", "sh", "-c", 'mount -t proc -o hidepid=1 proc /proc && exec "$@"', "sh"]
os.mkdir(os.path.join(DIR, 'a"b c'))  # the copy users run: its path must read back as one name
USER_TOLV = shutil.copy(TOLV, os.path.join(DIR, 'a"b c'))


def read(path):
    return pathlib.Path(path).read_text()


def write(path, text):
    pathlib.Path(path).write_text(text)


# The case moves to the root cgroup where the machine lets it, so that a class reaches its
# sessions' autogroups, never the unit that runs the tests (a login's scope), and stays in the
# root cpu group when a login turns the cpu controller on below the root (su in a service).
for procs in ("/sys/fs/cgroup/cpu/cgroup.procs", "/sys/fs/cgroup/cgroup.procs"):
    if os.path.exists(procs):
        with contextlib.suppress(OSError):
            write(procs, "0")
CGROUPS = [line.split(":", 2) for line in read("/proc/self/cgroup").splitlines()]  # v1's cpu, or v2
CPU_GROUP = next((path for _, names, path in CGROUPS if "cpu" in names.split(",")), CGROUPS[-1][2])
NO_GROUPS = ("autogroups are off" if read("/proc/sys/kernel/sched_autogroup_enabled")[0] != "1"
             else "in a cgroup namespace" if os.stat("/proc/self/ns/cgroup").st_ino != 0xEFFFFFFB
             else "not in the root cpu group" if CPU_GROUP != "/" else "")
USAGE = "Tolvenar\n" + read(os.path.dirname(__file__) + "/../usage.txt")  # the caption, the text
FAILURE = "Tolvenar\n" + read(os.path.dirname(__file__) + "/../failure.txt")  # %d: the code
CLASSES = [line.split()[0:3:2] for line in read(os.path.dirname(__file__) + "/../classes.txt")
           .splitlines() if not line.startswith("#")]  # each class's keyword and nice


def skip_unless(ready, why):
    if not ready:
        print("SKIP:", why)
        sys.exit(77)


def eq(rule, got, want):  # raises, not asserts: python3 -O drops asserts
    if got != want:
        raise AssertionError("%s\n   got: %r\n  want: %r" % (rule, got, want))


def bounded(rule, got, least=0, most=float("inf")):
    if not least <= got <= most:
        raise AssertionError("%s\n   got: %r\n  want: %r to %r" % (rule, got, least, most))


def name(prefix, length=0):
    return (prefix + TOKEN).ljust(length, "x")  # a name no other process has


def spawn(argv, **kwargs):  # in a session of its own, killed at the end
    PROCS.append(subprocess.Popen(argv, stdin=PIPE, stdout=PIPE, start_new_session=True, **kwargs))
    return PROCS[-1]


def start(path, *args, prefix=(), argv0=None):  # DIR/path: a copy of the target unless it exists
    path = os.path.join(DIR, path)
    if not os.path.exists(path):
        shutil.copy(TARGET, path)
    proc = spawn([*prefix, argv0 or path, *args], executable=path if argv0 else None)
    eq("a target says it is ready: " + path, proc.stdout.readline(), b"ready\n")
    return proc


def tolv(*args, command=(TOLV,), stdout=PIPE):  # its stdout, its stderr less valgrind's notes
    run = subprocess.run([*command, *args], stdout=stdout, stderr=PIPE, text=True)
    eq("tolv exits 0 whatever happens: %r %r" % (args, run.stderr), run.returncode, 0)
    return run.stdout, re.sub(r"(?m)^--.*\n?", "", run.stderr)


def traced(log, *command):  # the command's opens of files logged; LSan, which ptrace stops, off
    return ["strace", "-fo", log, "-e", "openat", "-E", "ASAN_OPTIONS=detect_leaks=0", *command]


def child(pid):  # the last child of a process's first thread
    return int(read("/proc/%d/task/%d/children" % (pid, pid)).split()[-1])


def threads(pid):  # each thread's nice and policy
    tids = [int(tid) for tid in os.listdir("/proc/%d/task" % pid)]
    return {(os.getpriority(os.PRIO_PROCESS, tid), os.sched_getscheduler(tid)) for tid in tids}


def groups_move(rule):  # whether a class moves the session's autogroup here; if not, says so
    if NO_GROUPS:
        print("not checked here: %s (%s)" % (rule, NO_GROUPS))
    return not NO_GROUPS


def check(rule, pid, nice, out_err, want=("", ""), group=None):  # group: the nice it is left at
    group = nice if group is None else group
    group = group if group == 0 or groups_move(rule + ": the group's nice") else 0
    got = (out_err, threads(pid), int(read("/proc/%d/autogroup" % pid).split()[-1]))
    idle = os.SCHED_IDLE if nice == 19 else os.SCHED_OTHER  # for IDLE alone
    eq(rule + " (tolv's output; each thread's nice and policy; the group's nice)", got,
       (want, {(nice, idle)}, group))


def change():
    stem, closed = name("lo ng", 16), ["sh", "-c", '"$0" "$@" <&-', TOLV]  # files take fd 0
    first, second = sorted(start(stem).pid for _ in range(2))
    for cls, nice in CLASSES:  # a name over 15 characters with a blank: one argument, or in quotes
        out_err = tolv(stem if nice == "19" else '"%s"' % stem, cls, command=closed)
        check(cls + " is set on the first in PID order", first, int(nice), out_err)
    check("the others of the name are left", second, 0, ("", ""))
    leader = start(name("leader"), "exit-leader").pid
    while read("/proc/%d/stat" % leader).rsplit(")", 1)[1].split()[0] != "Z":
        time.sleep(0.01)
    check("a zombie leader's process changes", leader, 10, tolv(name("leader"), "BELOW_NORMAL"))


def notices(command=(TOLV,)):
    target = start(stem := name("notice%d" % len(command))).pid  # a name for each command run
    reader, writer = os.pipe()
    os.close(reader)
    rows = {"a third token shows the usage": (10, ("BELOW_NORMAL", "extra"), PIPE, (USAGE, "")),
            "a class it does not know fails (87)": (10, ("12345",), PIPE, ("", FAILURE % 87)),
            "with stdout closed it changes too": (19, ("IDLE", "extra"), writer, (None, ""))}
    for rule, (nice, args, stdout, want) in rows.items():
        check(rule, target, nice, tolv(stem, *args, command=command, stdout=stdout), want)
    os.close(writer)


def sanitizers():
    notices(["valgrind", "-q", "--error-exitcode=1", "--leak-check=full", TOLV])
    notices([TOLV_ASAN])
    [spawn(["sleep", "60"]) for _ in range(30)]  # children that overflow the part tolv reads
    target = start(name("long", 15), argv0=name("long", 300)).pid
    check("a name over 259 characters is listed by its first 259", target, 19,
          tolv(name("long", 300)[:259], "IDLE", command=[TOLV_ASAN]))


def kthreads():
    skip_unless(os.getpid() == 1, "not the first process of a PID namespace")
    write("/proc/sys/kernel/ns_last_pid", "1")
    eq("the sleep that plays kthreadd is PID 2", spawn(["sleep", "60"]).pid, 2)
    write("/proc/sys/kernel/ns_last_pid", "19089")  # five digits, with a 9 and a 0, from here
    set_robust_list = {"x86_64": 273, "i686": 311}.get(os.uname().machine, 99)  # 99 on arm64
    code = ('import ctypes, signal; c = ctypes.CDLL(None); c.syscall(%d, None, 24); '
            'c.prctl(15, b"kworker/u4:0-ev")\nprint("ready", flush=True); signal.pause()' % set_robust_list)
    listed, twin, own = (start(name("kw"), prefix=(*u, sys.executable, "-c", code)).pid
                         for u in ((), (), AS_USER))  # with no robust-futex list, like a kworker
    target, asan = start(name("kt")).pid, traced(DIR + "/log", TOLV_ASAN)
    unsorted = [*range(40000, 39000, -1), listed, *range(39000, 38000, -1), target]  # 2,000 more
    write(DIR + "/children", " ".join(map(str, unsorted)))
    write(DIR + "/stat", re.sub(r"^((\S+ ){8})(\d+)", lambda m: m[1] + str(int(m[3]) | 0x200000),
                                read("/proc/2/stat")))  # PF_KTHREAD added to the flags
    passes = {"while PID 2 is no kthreadd": ("task/2/children", "BELOW_NORMAL", 10, {listed, twin}),
              "once PID 2 is kthreadd": ("stat", "IDLE", 19, {twin})}
    skips = "no stat is read of a user's kworker, nor of one kthreadd lists, "
    for rule, (fake, cls, nice, stat_read) in passes.items():
        subprocess.check_call(["mount", "--bind", fake.split("/")[-1], "/proc/2/" + fake], cwd=DIR)
        check("the target changes " + rule, target, nice, tolv(name("kt"), cls, command=asan))
        opened = {int(pid) for pid in re.findall(r'"(\d+)/stat"', read(DIR + "/log"))}
        eq(skips + rule, opened & {listed, twin, own}, stat_read)


def reuse():
    start(name("walk"))  # fds 0-2, and 3 for /proc:
    prober = spawn(["prlimit", "--nofile=4", PROBE, name("walk")], text=True)
    eq("out of files the walk ends with that error (4), passing over no process",
       (prober.communicate(), prober.returncode), (("end 4\n", None), 0))
    for _ in range(20):  # other tests may take the number first
        target, prober = start(name("probe")), spawn([PROBE, name("probe")], text=True)
        eq("the walk finds the target", int(prober.stdout.readline()), target.pid)
        target.kill()
        target.wait()
        write("/proc/sys/kernel/ns_last_pid", str(target.pid - 1))
        if spawn(["sleep", "60"]).pid == target.pid:
            break
    skip_unless(PROCS[-1].pid == target.pid, "the number was never reused")
    eq("a number reused before the open fails (87)",
       (prober.communicate("\n"), prober.returncode), (("87\n", None), 0))


def names():
    stem, script = name("lnk", 15), name("scr") + "-nightly-run.sh"
    shutil.copy(TARGET, os.path.join(DIR, stem + "_real"))
    os.symlink(stem + "_real", os.path.join(DIR, stem + "_link"))
    write(os.path.join(DIR, script), "#!/bin/sh -e\nsleep 60 &\necho ready\nwait\n")
    os.chmod(os.path.join(DIR, script), 0o755)  # with a child: the session is still the script's
    cut = {"a cut name comes from a link's name, not its file's": (stem + "_link", stem + "_real"),
           "a cut name comes from a #! script's path, not the comm": (script, script[:15])}
    for rule, (path, wrong) in cut.items():
        target = start(path).pid
        check(rule, target, 0, tolv(wrong, "IDLE"))
        check(rule, target, 19, tolv(path, "IDLE"))
    target = start(name("deleted", 20), "-", "-", name("deleted", 15) + ".log", argv0="other").pid
    os.remove(os.path.join(DIR, name("deleted", 20)))  # not the comm, nor a 4th argument
    check("a cut name is a deleted exe's path", target, 19, tolv(name("deleted", 20), "IDLE"))
    deep = ('import os, shutil, sys\nos.chdir(os.path.dirname(sys.argv[1]))\nfor _ in range(17):\n'
            '    os.mkdir("d" * 250)\n    os.chdir("d" * 250)\nshutil.copy(sys.argv[1], ".")\n'
            'os.execv(os.path.basename(sys.argv[1]), ["x"])')
    unreadable = start(name("deep", 250), prefix=(sys.executable, "-c", deep)).pid
    check("unreadable exes end no walk", start(name("after")).pid, 19, tolv(name("after"), "IDLE"))
    check("an exe over PATH_MAX leaves the comm", unreadable, 19, tolv(name("deep", 15), "IDLE"))


def users():
    zombie = start(name("user"), prefix=AS_USER)
    zombie.kill()
    os.waitid(os.P_PID, zombie.pid, os.WEXITED | os.WNOWAIT)  # a zombie until reaped at the end
    target = start(name("user"), prefix=AS_USER).pid
    check("root passes over a zombie of the name", target, -6, tolv(name("user"), "ABOVE_NORMAL"))
    nested = AS_USER + ["unshare", "-Ur", "unshare", "-Ur", USER_TOLV]  # root there: 65534 here
    check("its user changes it from nested user namespaces", target, 10,
          tolv(name("user"), "BELOW_NORMAL", command=nested))
    refuser = ('import os, time\nos.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))\n'
               'write = lambda: open("/proc/self/autogroup", "w").write("0")\nwrite()\n'
               'print("ready", flush=True)\nwhile write():\n    time.sleep(0.01)')
    rule = "a group change the kernel refuses fails (31)"
    refused = ("", FAILURE % 31) if groups_move(rule) else ("", "")  # within 100 ms of any other
    if refused[1]:  # a writer with no fork, and first on the CPU when it wakes
        start(name("refuser"), prefix=(sys.executable, "-c", refuser))
    began = time.monotonic()  # once the writer runs: its start is no wait of tolv's
    check(rule, target, 19, tolv(name("user"), "IDLE", command=AS_USER + [USER_TOLV]), refused, 10)
    bounded("tolv tries again for a second", time.monotonic() - began, least=bool(refused[1]))
    check("under hidepid, which may hide one of the session, the group is left", target, 19,
          tolv(name("user"), "IDLE", command=HIDEPID + AS_USER + [USER_TOLV]), group=10)
    nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", USER_TOLV]
    check("another user is refused (5), though the nice would stay", target, 19,
          tolv(name("user"), "IDLE", command=nobody), ("", FAILURE % 5), group=10)


def policy():
    target = start(name("fifo")).pid
    last = max(map(int, os.listdir("/proc/%d/task" % target)))
    os.sched_setscheduler(last, os.SCHED_FIFO, os.sched_param(1))  # as the program may
    for cls, nice, other in (("IDLE", 19, os.SCHED_IDLE), ("NORMAL", 0, os.SCHED_OTHER)):
        tolv(name("fifo"), cls)
        eq(cls + " sets each thread, and leaves a real-time one real-time", threads(target),
           {(nice, other), (nice, os.SCHED_FIFO)})


def session():
    cases = {"its shell": ('"$0" & wait', 19), "a sibling": ('sleep 60 & "$0" & wait', 0),
             "an orphan": ('(sleep 60 &); "$0" & wait', 0),
             "an ended orphan": ('(true &); sleep 0.2; "$0" & wait', 19),
             "tolv in the session": ('"$0" & read x; "$1" "$2" IDLE; echo done; wait', 19),
             "tolv through su --pty":
                 ('"$0" & read x; su --pty -c "\\"$1\\" \\"$2\\" IDLE"; echo done; wait', 19)}
    for i, (case, (shell, group)) in enumerate(cases.items()):
        stem, rule = name("s%d" % i), "the group changes only beside its own or ended: " + case
        proc = start(stem, TOLV, stem, prefix=("sh", "-c", shell))
        target = child(proc.pid)
        if "read x" not in shell:
            check(rule, target, 19, tolv(stem, "IDLE"), group=group)
            continue
        os.write(proc.stdin.fileno(), b"\n")
        check(rule, target, 19, (proc.stdout.readline().decode(), ""), ("done\n", ""), group=group)


def cgroup():
    target, path = start(name("cg")).pid, "/sys/fs/cgroup/cpu/" + name("tolv")
    inside = ["sh", "-c", 'echo $$ >"$0/cgroup.procs" && exec unshare --cgroup "$@"', path, TOLV]
    if not os.path.isdir("/sys/fs/cgroup/cpu"):
        print("not checked here: the rows of cgroup v1 (no cpu hierarchy of cgroup v1)")
    else:  # a process in a cpu cgroup other than the root competes as the cgroup
        os.mkdir(path)
        try:
            write(path + "/cgroup.procs", str(target))
            rule = "in a cpu cgroup of v1 but the root only the threads change"
            check(rule, target, 19, tolv(name("cg"), "IDLE"), group=0)
            check(rule + ", seen as / from inside", target, 10,
                  tolv(name("cg"), "BELOW_NORMAL", command=inside), group=0)
        finally:
            write("/sys/fs/cgroup/cpu/cgroup.procs", str(target))
            os.rmdir(path)
    fake = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /proc/%d/cgroup && ' % target
            + 'mount -t tmpfs tmpfs /sys/fs/cgroup && { [ ! -e "$1" ] || cp "$1" '
            + '/sys/fs/cgroup/cgroup.subtree_control; } && exec "$2" "$3" IDLE']
    scope = "0::/user.slice/a.scope\n"  # what cgroup v2 would show tolv alone
    v2_cases = {"v2 root group": ("0::/\n", "cpu memory\n", 19),
                "v2 below a root that passes cpu down": (scope, "cpuset cpu io\n", 0),
                "v2 below a root that passes cpu down last": (scope, "io cpu\n", 0),
                "v2 below a root that keeps cpu": (scope, "cpuset io\n", 19),
                "v1 cpu beside v2 decides": (scope + "4:cpu,cpuacct:/\n", "cpu\n", 19),
                "an empty cgroup file: nothing known": ("", "", 0),
                "v2 below a root not mounted here: nothing known": (scope, None, 0)}
    for case, (lines, controllers, group) in v2_cases.items():
        write(os.path.join(DIR, "cgroup"), lines)
        write(os.path.join(DIR, "controllers"), controllers or "")
        write("/proc/%d/autogroup" % target, "0")
        shown = os.path.join(DIR, "controllers" if controllers is not None else "absent")
        out_err = tolv(os.path.join(DIR, "cgroup"), shown, TOLV, name("cg"), command=fake)
        check("the group changes outside cpu cgroups: " + case, target, 19, out_err, group=group)


def namespaces():
    decoy = start(name("decoy")).pid
    ns = ("unshare", "--pid", "--fork", "--kill-child", "--mount-proc")
    last = "echo %d >/proc/sys/kernel/ns_last_pid; " % (decoy - 1)
    target = child(child(start(name("inner"), prefix=ns + ("sh", "-c", last + '"$0" & wait')).pid))
    check("under a /proc of another PID namespace nothing changes", target, 0,
          tolv(name("inner"), "IDLE", command=["nsenter", "-t", str(target), "-m", TOLV]))
    check("nor does the process here of the number tolv saw there", decoy, 0, ("", ""))
    cases = {  # from inside one, only where the whole session is seen there
        "its first process with a child": (ns + ("setsid", "sh", "-c", 'sleep 60 & exec "$0"'), 19),
        "a session begun outside": (("sh", "-c", 'sleep 60 & %s "$0"; wait' % " ".join(ns)), 0)}
    for i, (case, (prefix, group)) in enumerate(cases.items()):
        target = child(start(name("ns%d" % i), prefix=prefix).pid)
        target = child(target) if "outside" in case else target
        inside = ["nsenter", "-t", str(target), "-p", "-m", TOLV]
        check("inside a PID namespace only a whole session's group changes: " + case, target, 19,
              tolv(name("ns%d" % i), "IDLE", command=inside), group=group)


def scan():
    last = "/proc/sys/kernel/ns_last_pid"
    forker = ('import os, signal, time; signal.signal(signal.SIGUSR1, lambda *_: os._exit(0) '
              'if os.fork() else time.sleep(60)); print(os.getpid(), flush=True); time.sleep(60)')
    shell = start(name("wrap"), forker,
                  prefix=("sh", "-c", '"$0" & read x; (python3 -c "$1" &); wait'))
    target = child(shell.pid)
    write(last, "9999")
    os.write(shell.stdin.fileno(), b"\n")
    foreign = int(shell.stdout.readline())
    write(last, "4999")
    marker = spawn(["sleep", "60"]).pid  # tolv's scan is held there for a second
    held = ["-P", "/proc/%d/stat" % marker, "-e", "inject=openat:delay_enter=1000000"]
    run = subprocess.Popen(traced("/dev/null", *held, TOLV, name("wrap"), "IDLE"), stdout=PIPE)
    time.sleep(0.5)
    write(last, "299")
    os.kill(foreign, signal.SIGUSR1)  # a child on number 300, and the parent ends
    run.wait()
    check("a foreign child on a number the scan has passed is found", target, 19, ("", ""), group=0)
    tree = ('#!/bin/sh\n[ "$1" -gt 0 ] && { for i in $(seq $2); do sleep 60 & done; '
            '"$0" $(($1 - 1)) $2 & }\necho ready\nwait\n')  # each level: WIDTH sleepers, the next
    trees = {"a tree of its own 65 deep leaves the group": (65, 1, 0),
             "a tree of its own 64 deep, 3 wide, moves the group": (64, 2, 19)}
    for rule, (depth, width, group) in trees.items():
        script = name("deep%d" % depth)
        write(os.path.join(DIR, script), tree)
        os.chmod(os.path.join(DIR, script), 0o755)
        proc = start(script, str(depth), str(width))
        [proc.stdout.readline() for _ in range(depth)]
        check(rule, proc.pid, 19, tolv(script, "IDLE"), group=group)
    [spawn(["timeout", "60", "sh", "-c", "while :; do : & wait $!; done"]) for _ in range(2)]
    target, moved = start(name("load"), "churn").pid, []  # whose own threads come and go
    for cls, nice in (("IDLE", 19), ("NORMAL", 0)) * 5:
        tolv(name("load"), cls)
        moved.append(int(read("/proc/%d/autogroup" % target).split()[-1]) == nice)
    rule = "the group moves in 10 of 10 runs beside 12,000 forks a second"
    eq(rule, moved.count(True), 10 if groups_move(rule) else 5)  # else NORMAL's 5 alone


def offers(*words, command=()):  # what $COMPLETION offers for the last word
    drive = ('source /usr/share/bash-completion/bash_completion && source "$COMPLETION"; '
             'COMP_WORDS=(tolv "$@"); COMP_CWORD=$#; COMP_LINE="tolv $*"; '
             'COMP_POINT=${#COMP_LINE}; _tolv tolv "${@: -1}" "${COMP_WORDS[-2]}"; '
             '[[ ${COMPREPLY[*]} ]] && printf "%s\\n" "${COMPREPLY[@]}"')
    run = subprocess.run([*command, "bash", "--norc", "-c", drive, "bash", *words],
                         capture_output=True, text=True)
    eq("completion writes no error on the terminal", run.stderr, "")
    return run.stdout.splitlines()


def completion():
    skip_unless(os.path.exists("/usr/share/bash-completion/bash_completion"), "no bash-completion")
    source = os.environ["TOLV_COMPLETION"]  # the build's, or the installed one as autopkgtest has it
    os.environ["COMPLETION"] = shutil.copy(source, DIR)  # where other users can read it
    named = [start(comm) for comm in ("j$(>pwnA)!`\\'\x01", "k'$(>pwnB)'!\x01", "w'x y",
                                      "v\n$(>pwnC)", "u$(>pwnD)'", "NULL")]
    empty = start("", prefix=(sys.executable, "-c", 'import ctypes, signal; ctypes.CDLL(None)'
                              '.prctl(15, b""); print("ready", flush=True); signal.pause()'))
    stem = name("sp ace", 20)  # argv[0]'s 4,096 bytes, taken before the exe's name:
    first = start(stem[:15] + "-exe", argv0=stem.ljust(4096, "y") + "/past")
    typed = ('"j', "'k", "'w'\"'\"'x", "$'v", "u", stem[:2], "NU", "nu")  # each reaches one process
    keys = "".join(f"{TOLV} {word}\t\x14" for word in typed)  # Tab; Ctrl-T runs it as Enter would
    setup = ('source /usr/share/bash-completion/bash_completion; source "$COMPLETION"; bind -x '
             '\'"\\C-t": eval "$(history -p "$READLINE_LINE") IDLE"; READLINE_LINE=\'\n')
    subprocess.run(["script", "-qec", "INPUTRC=/dev/null HISTFILE= bash --norc -i", "/dev/null"],
                   cwd=DIR, input=(setup + keys + "exit\n").encode(), timeout=60)
    eq("no name offered runs what it holds", list(pathlib.Path(DIR).glob("pwn*")), [])
    for proc in (*named, empty, first):
        check("a Tab offers a name, escaped, that names its process", proc.pid, 19, ("", ""))
    eq("under hidepid root's processes are not offered", offers("j", command=HIDEPID + AS_USER), [])
    [start(name("exe", 20), argv0="other") for _ in range(30)]
    os.remove(os.path.join(DIR, name("exe", 20)))  # 30 links to read, each ending " (deleted)"
    eq("a deleted exe is offered once", offers(name("exe")), [name("exe", 20)])


try:
    skip_unless(shutil.which("strace") or CASE not in ("kthreads", "scan", "completion"),
                "no strace")
    globals()[CASE]()  # each case is the function of its name
finally:
    for proc in PROCS:
        with proc, contextlib.suppress(ProcessLookupError):  # closes its pipes and waits for it
            os.killpg(proc.pid, 9)
    shutil.rmtree(DIR, ignore_errors=True)
