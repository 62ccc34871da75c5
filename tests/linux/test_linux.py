"""End-to-end tests of the native tolv on processes started under names of their own, each in a session of its own.
Usage: test_linux.py TOLV TOLV_ASAN TARGET PROBE CASE  (exit 77: skipped)"""
import contextlib, os, pathlib, random, re, shutil, signal, string, subprocess, sys, tempfile, time
from subprocess import PIPE

TOLV, TOLV_ASAN, TARGET, PROBE, CASE = sys.argv[1:6]
DIR = tempfile.mkdtemp(prefix="tolv-linux-")
os.chmod(DIR, 0o755)  # other users run tolv from here
os.setpriority(os.PRIO_PROCESS, 0, 0)  # the targets start from nice 0, whatever this test was started with
os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))  # and from SCHED_OTHER, whatever this test inherited
TOKEN = "".join(random.choice(string.ascii_lowercase) for _ in range(6))
PROCS = []
AS_USER = ["setpriv", "--reuid=1000", "--regid=1000", "--clear-groups"]
os.mkdir(os.path.join(DIR, 'a"b c'))  # the copy other users run: its path must still read back as one name
USER_TOLV = shutil.copy(TOLV, os.path.join(DIR, 'a"b c'))
FAILURE = "Tolvenar\nSetPriorityClass function error\n\nGetLastError()=%d\n"


def read(path):
    return pathlib.Path(path).read_text()


def write(path, text):
    pathlib.Path(path).write_text(text)


USAGE = "Tolvenar\n" + read(os.path.join(os.path.dirname(__file__), "..", "usage.txt"))  # the caption, the text
# Each class's keyword and nice, as the manual page states them (pkg.man holds it to that).
CLASSES = [line.split()[0:3:2] for line in read(os.path.join(os.path.dirname(__file__), "..", "classes.txt")).splitlines()
           if not line.startswith("#")]


def skip_unless(ready, why):
    if not ready:
        print("SKIP:", why)
        sys.exit(77)


def name(prefix, length=0):
    return (prefix + TOKEN).ljust(length, "x")  # a name no other process has


def spawn(argv, **kwargs):  # in a session of its own, killed at the end
    PROCS.append(subprocess.Popen(argv, stdin=PIPE, stdout=PIPE, start_new_session=True, **kwargs))
    return PROCS[-1]


def start(path, *args, prefix=(), argv0=None):  # DIR/path, a copy of the target unless that file exists
    path = os.path.join(DIR, path)
    if not os.path.exists(path):
        shutil.copy(TARGET, path)
    proc = spawn([*prefix, argv0 or path, *args], executable=path if argv0 else None)
    assert proc.stdout.readline() == b"ready\n", path
    return proc


def tolv(*args, command=(TOLV,), stdout=PIPE):
    """Runs tolv, which exits 0 whatever happens; returns its stdout and its stderr without valgrind's notes."""
    run = subprocess.run([*command, *args], stdout=stdout, stderr=PIPE, text=True)
    assert run.returncode == 0, (args, run.returncode, run.stderr)
    return run.stdout, "".join(line for line in run.stderr.splitlines(True) if not line.startswith("--"))


def traced(log, *command):  # the command's opens of files logged; LSan, which cannot run under ptrace, off
    return ["strace", "-fo", log, "-e", "openat", "-E", "ASAN_OPTIONS=detect_leaks=0", *command]


def eq(got, expected):
    assert got == expected, (got, expected)


def child(pid):  # the last child of a process's first thread
    return int(read("/proc/%d/task/%d/children" % (pid, pid)).split()[-1])


def threads(pid):  # each thread's nice and policy
    tids = [int(tid) for tid in os.listdir("/proc/%d/task" % pid)]
    return {(os.getpriority(os.PRIO_PROCESS, tid), os.sched_getscheduler(tid)) for tid in tids}


def check(pid, nice, out_err, expected=("", ""), group=None):
    """tolv printed what was expected; every thread has the nice, with SCHED_IDLE for IDLE alone; so has the group."""
    eq(out_err, expected)
    eq(threads(pid), {(nice, os.SCHED_IDLE if nice == 19 else os.SCHED_OTHER)})
    eq(int(read("/proc/%d/autogroup" % pid).split()[-1]), nice if group is None else group)


def change():
    """Each class is set on the first in PID order of the processes of a name over 15 characters, which holds a
    blank: as one argument, or one that carries its own double quotes."""
    stem, closed = name("lo ng", 16), ["sh", "-c", '"$0" "$@" <&-', TOLV]  # its files then take descriptor 0
    first, second = sorted(start(stem).pid for _ in range(2))
    for cls, nice in CLASSES:
        check(first, int(nice), tolv(stem if nice == "19" else '"%s"' % stem, cls, command=closed))
    check(second, 0, ("", ""))
    leader = start(name("leader"), "exit-leader").pid  # and where the leader thread has ended
    while read("/proc/%d/stat" % leader).rsplit(")", 1)[1].split()[0] != "Z":
        time.sleep(0.01)
    check(leader, 10, tolv(name("leader"), "BELOW_NORMAL"))


def notices(command=(TOLV,)):
    """A third token shows the usage and changes all the same, also with stdout closed; a bad class fails (87)."""
    target = start(stem := name("notice%d" % len(command))).pid  # a name for each command run in one case
    check(target, 10, tolv(stem, "BELOW_NORMAL", "extra", command=command), (USAGE, ""))
    check(target, 10, tolv(stem, "12345", command=command), ("", FAILURE % 87))
    reader, writer = os.pipe()
    os.close(reader)
    check(target, 19, tolv(stem, "IDLE", "extra", command=command, stdout=writer), (None, ""))
    os.close(writer)


def sanitizers():
    """Memcheck finds no leak or undefined read in those notices, on the path without pidfds (valgrind 3.19 fails
    pidfd_open); ASan, LSan and UBSan nothing on the pidfd path, nor with a name over 259 characters, listed by its
    first 259, and a parent whose children overflow the part tolv reads."""
    notices(["valgrind", "-q", "--error-exitcode=1", "--leak-check=full", TOLV])
    notices([TOLV_ASAN])
    [spawn(["sleep", "60"]) for _ in range(30)]
    target = start(name("long", 15), argv0=name("long", 300)).pid
    check(target, 19, tolv(name("long", 300)[:259], "IDLE", command=[TOLV_ASAN]))


def kthreads():
    """No stat record is read of one kthreadd lists, with no robust-futex list and a 15-character name like a kernel
    thread's, nor of a user's; its unlisted twin's is, and its own while PID 2 is no kthreadd. 2,000 listed unsorted."""
    skip_unless(os.getpid() == 1, "not the first process of a PID namespace")
    write("/proc/sys/kernel/ns_last_pid", "1")
    eq(spawn(["sleep", "60"]).pid, 2)
    write("/proc/sys/kernel/ns_last_pid", "19089")  # numbers of five digits, with a 9 and a 0, from here
    code = 'import ctypes, signal; c = ctypes.CDLL(None); c.syscall(273, None, 24); c.prctl(15, b"kworker/u4:0-ev")\n' \
           'print("ready", flush=True); signal.pause()'
    listed, twin, own = (start(name("kw"), prefix=(*u, sys.executable, "-c", code)).pid for u in ((), (), AS_USER))
    target, log = start(name("kt")).pid, os.path.join(DIR, "log")
    write(DIR + "/children", " ".join(map(str, [*range(40000, 39000, -1), listed, *range(39000, 38000, -1), target])))
    # The ninth field holds the flags: PF_KTHREAD added (sleep's name has no blank).
    write(DIR + "/stat", re.sub(r"^((\S+ ){8})(\d+)", lambda m: m[1] + str(int(m[3]) | 0x200000), read("/proc/2/stat")))
    passes = (("task/2/children", "BELOW_NORMAL", 10, {listed, twin}), ("stat", "IDLE", 19, {twin}))
    for fake, cls, nice, stat_read in passes:
        subprocess.run(["mount", "--bind", DIR + "/" + fake.split("/")[-1], "/proc/2/" + fake], check=True)
        check(target, nice, tolv(name("kt"), cls, command=traced(log, TOLV_ASAN)))
        eq({int(pid) for pid in re.findall(r'"(\d+)/stat"', read(log))} & {listed, twin, own}, stat_read)


def reuse():
    """Out of files the walk ends with that error (4), passing over no process; a number reused before the open: 87."""
    start(name("walk"))  # fds 0-2, and 3 for /proc:
    prober = spawn(["prlimit", "--nofile=4", PROBE, name("walk")], text=True)
    eq((prober.communicate(), prober.returncode), (("end 4\n", None), 0))
    for _ in range(20):  # other tests may take the number first
        target, prober = start(name("probe")), spawn([PROBE, name("probe")], text=True)
        eq(int(prober.stdout.readline()), target.pid)
        target.kill()
        target.wait()
        write("/proc/sys/kernel/ns_last_pid", str(target.pid - 1))
        if spawn(["sleep", "60"]).pid == target.pid:
            break
    skip_unless(PROCS[-1].pid == target.pid, "the number was never reused")
    eq((prober.communicate("\n"), prober.returncode), (("87\n", None), 0))


def names():
    """A cut name comes from a link's name, a #! script's path or a deleted exe's, not the comm nor a 4th argument;
    an exe that cannot be read back leaves the comm, and ends no walk."""
    stem = name("lnk", 15)
    shutil.copy(TARGET, os.path.join(DIR, stem + "_real"))
    os.symlink(stem + "_real", os.path.join(DIR, stem + "_link"))
    script = name("scr") + "-nightly-run.sh"  # with a child: the session is still the script's own
    write(os.path.join(DIR, script), "#!/bin/sh -e\nsleep 60 &\necho ready\nwait\n")
    os.chmod(os.path.join(DIR, script), 0o755)
    for path, wrong in ((stem + "_link", stem + "_real"), (script, script[:15])):
        target = start(path).pid
        check(target, 0, tolv(wrong, "IDLE"))
        check(target, 19, tolv(path, "IDLE"))
    target = start(name("deleted", 20), "-", "-", name("deleted", 15) + ".log", argv0="other").pid
    os.remove(os.path.join(DIR, name("deleted", 20)))
    check(target, 19, tolv(name("deleted", 20), "IDLE"))
    # An exe whose path is over PATH_MAX cannot be read back: that process keeps its comm, and the walk goes on.
    deep = 'import os, shutil, sys\nos.chdir(os.path.dirname(sys.argv[1]))\nfor _ in range(17):\n' \
           '    os.mkdir("d" * 250)\n    os.chdir("d" * 250)\nshutil.copy(sys.argv[1], ".")\n' \
           'os.execv(os.path.basename(sys.argv[1]), ["x"])'
    unreadable = start(name("deep", 250), prefix=(sys.executable, "-c", deep)).pid
    check(start(name("after")).pid, 19, tolv(name("after"), "IDLE"))
    check(unreadable, 19, tolv(name("deep", 15), "IDLE"))


def users():
    """Root and the process's user (in nested user namespaces, under hidepid) pass over a zombie of its name."""
    zombie = start(name("user"), prefix=AS_USER)
    zombie.kill()
    os.waitid(os.P_PID, zombie.pid, os.WEXITED | os.WNOWAIT)  # a zombie until reaped at the end
    target = start(name("user"), prefix=AS_USER).pid
    check(target, -6, tolv(name("user"), "ABOVE_NORMAL"))
    nested = AS_USER + ["unshare", "-Ur", "unshare", "-Ur", USER_TOLV]  # root there shows as 65534 here
    check(target, 10, tolv(name("user"), "BELOW_NORMAL", command=nested))
    # The kernel refuses a user's group change within 100 ms of any other: a root shell changing one every 50 ms
    # keeps it refusing, and tolv waits a second for a gap before it reports that.
    hammer, began = spawn(["sh", "-c", "while echo 0 >/proc/$$/autogroup; do sleep 0.05; done"]), time.monotonic()
    check(target, 19, tolv(name("user"), "IDLE", command=AS_USER + [USER_TOLV]), ("", FAILURE % 31), group=10)
    assert time.monotonic() - began >= 1, "gave up on the group after %.2f s" % (time.monotonic() - began)
    hammer.kill()
    hidden = ["unshare", "-m", "sh", "-c", 'mount -t proc -o hidepid=1 proc /proc && exec "$@"', "sh", *AS_USER]
    # hidepid may hide a process of the session from the user: the group is left
    check(target, 19, tolv(name("user"), "IDLE", command=hidden + [USER_TOLV]), group=10)
    nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", USER_TOLV]  # refused, though the nice
    check(target, 19, tolv(name("user"), "IDLE", command=nobody), ("", FAILURE % 5), group=10)  # would stay as it is


def policy():
    """A thread the program made real-time keeps its policy; NORMAL undoes IDLE on the others."""
    target = start(name("fifo")).pid
    os.sched_setscheduler(max(map(int, os.listdir("/proc/%d/task" % target))), os.SCHED_FIFO, os.sched_param(1))
    for cls, nice, other in (("IDLE", 19, os.SCHED_IDLE), ("NORMAL", 0, os.SCHED_OTHER)):
        tolv(name("fifo"), cls)
        eq(threads(target), {(nice, other), (nice, os.SCHED_FIFO)})


def session():
    """The group changes only where each other process of the session is the target's own or has ended: its shell,
    tolv run from it, also through su --pty, an ended orphan; not where it holds a sibling or a running orphan."""
    cases = {"its shell": ('"$0" & wait', 19), "a sibling": ('sleep 60 & "$0" & wait', 0),
             "an orphan": ('(sleep 60 &); "$0" & wait', 0), "an ended orphan": ('(true &); sleep 0.2; "$0" & wait', 19),
             "tolv in the session": ('"$0" & read x; "$1" "$2" IDLE; echo done; wait', 19),
             "tolv through su --pty": ('"$0" & read x; su --pty -c "\\"$1\\" \\"$2\\" IDLE"; echo done; wait', 19)}
    lists, log = {}, os.path.join(DIR, "log")
    for i, (case, (shell, group)) in enumerate(cases.items()):
        print("case:", case)
        stem = name("s%d" % i)
        proc = start(stem, TOLV, stem, prefix=("sh", "-c", shell))
        target = child(proc.pid)
        if "tolv" not in case:
            check(target, 19, tolv(stem, "IDLE", command=traced(log, TOLV)), group=group)
            lists[case] = read(log).count('"/proc", O_RDONLY')
            continue
        proc.stdin.write(b"\n")
        proc.stdin.flush()
        check(target, 19, (proc.stdout.readline().decode(), ""), ("done\n", ""), group=group)
    assert lists["a sibling"] < lists["an orphan"], lists  # a sibling is found without a scan of /proc


def cgroup():
    """In a cpu cgroup other than the root a process competes as the cgroup: only its threads change, not its group.
    A group of cgroup v1's cpu hierarchy, then the cgroup file and the root's controllers that cgroup v2 would show."""
    skip_unless(os.path.isdir("/sys/fs/cgroup/cpu"), "no cpu hierarchy of cgroup v1 to make a group in")
    target, path = start(name("cg")).pid, "/sys/fs/cgroup/cpu/" + name("tolv")
    os.mkdir(path)
    try:
        write(path + "/cgroup.procs", str(target))
        check(target, 19, tolv(name("cg"), "IDLE"), group=0)
        # A cgroup namespace rooted there shows the target's cpu cgroup as "/".
        inside = ["sh", "-c", 'echo $$ >"$0/cgroup.procs" && exec unshare --cgroup "$@"', path, TOLV]
        check(target, 10, tolv(name("cg"), "BELOW_NORMAL", command=inside), group=0)
    finally:
        write("/sys/fs/cgroup/cpu/cgroup.procs", str(target))
        os.rmdir(path)
    # Shown to tolv alone, in a mount namespace of its own.
    fake = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /proc/%d/cgroup && mount -t tmpfs tmpfs /sys/fs/cgroup &&'
            ' { [ ! -e "$1" ] || cp "$1" /sys/fs/cgroup/cgroup.subtree_control; } && exec "$2" "$3" IDLE' % target]
    v2_cases = {
        "v2 root group": ("0::/\n", "cpu memory\n", 19),
        "v2 below a root that passes cpu down": ("0::/user.slice/a.scope\n", "cpuset cpu io\n", 0),
        "v2 below a root that passes cpu down last": ("0::/user.slice/a.scope\n", "io cpu\n", 0),
        "v2 below a root that keeps cpu": ("0::/user.slice/a.scope\n", "cpuset io\n", 19),
        "v2 below a root that passes nothing down": ("0::/user.slice/a.scope\n", "", 19),
        "v1 cpu beside v2 decides": ("0::/user.slice/a.scope\n4:cpu,cpuacct:/\n", "cpu\n", 19),
        "an empty cgroup file: nothing known": ("", "", 0),
        "v2 below a root not mounted here: nothing known": ("0::/user.slice/a.scope\n", None, 0),
    }
    for case, (lines, controllers, group) in v2_cases.items():
        write(os.path.join(DIR, "cgroup"), lines)
        write(os.path.join(DIR, "controllers"), controllers or "")
        write("/proc/%d/autogroup" % target, "0")
        shown = os.path.join(DIR, "controllers" if controllers is not None else "absent")  # else an empty tmpfs
        print("case:", case)
        check(target, 19, tolv(os.path.join(DIR, "cgroup"), shown, TOLV, name("cg"), command=fake), group=group)


def namespaces():
    """Under a /proc of another PID namespace, whose numbers name other processes here, nothing is changed. From
    inside one, a group changes only where its whole session is seen there: a target that is the namespace's first
    process and has a child, yes; one whose session began outside, with a process there, no."""
    decoy = start(name("decoy")).pid
    ns = ("unshare", "--pid", "--fork", "--kill-child", "--mount-proc")
    last = "echo %d >/proc/sys/kernel/ns_last_pid; " % (decoy - 1)
    target = child(child(start(name("inner"), prefix=ns + ("sh", "-c", last + '"$0" & wait')).pid))
    check(target, 0, tolv(name("inner"), "IDLE", command=["nsenter", "-t", str(target), "-m", TOLV]))
    check(decoy, 0, ("", ""))
    for stem, prefix, group in (("first", ns + ("setsid", "sh", "-c", 'sleep 60 & exec "$0"'), 19),
                                ("outer", ("sh", "-c", 'sleep 60 & %s "$0"; wait' % " ".join(ns)), 0)):
        target = child(start(name(stem), prefix=prefix).pid)
        target = child(target) if stem == "outer" else target
        check(target, 19, tolv(name(stem), "IDLE", command=["nsenter", "-t", str(target), "-p", "-m", TOLV]),
              group=group)


def scan():
    """A foreign process of the group that leaves a child on a number the scan has passed and ends is still found;
    a tree of the target's own 64 deep and of 5,000 processes costs at most 0.2 stat reads per process and moves
    the group, one 65 deep does not; the group moves in 10 of 10 runs beside other sessions that fork, for a
    target that starts threads meanwhile."""
    last = "/proc/sys/kernel/ns_last_pid"
    forker = 'import os, signal, time; signal.signal(signal.SIGUSR1, lambda *_: os._exit(0) if os.fork() else ' \
             'time.sleep(60)); print(os.getpid(), flush=True); time.sleep(60)'
    shell = start(name("wrap"), forker, prefix=("sh", "-c", '"$0" & read x; (python3 -c "$1" &); wait'))
    target = child(shell.pid)
    write(last, "9999")
    shell.stdin.write(b"\n")
    shell.stdin.flush()
    foreign = int(shell.stdout.readline())
    write(last, "4999")
    marker = spawn(["sleep", "60"]).pid  # tolv's scan is held there for a second
    run = subprocess.Popen(["strace", "-f", "-o", "/dev/null", "-P", "/proc/%d/stat" % marker, "-e", "openat",
                            "-e", "inject=openat:delay_enter=1000000", TOLV, name("wrap"), "IDLE"], stdout=PIPE)
    time.sleep(0.5)
    write(last, "299")
    os.kill(foreign, signal.SIGUSR1)  # a child on number 300, and the parent ends
    run.wait()
    check(target, 19, ("", ""), group=0)
    log = os.path.join(DIR, "log")
    for depth, width, group, cost in ((65, 1, 0, 1.2), (64, 78, 19, 0.2)):  # each level: WIDTH sleepers, the next
        script = name("deep%d" % depth)
        write(os.path.join(DIR, script), '#!/bin/sh\n[ "$1" -gt 0 ] && { for i in $(seq $2); do sleep 60 & done; '
                                         '"$0" $(($1 - 1)) $2 & }\necho ready\nwait\n')
        os.chmod(os.path.join(DIR, script), 0o755)
        proc = start(script, str(depth), str(width))
        for _ in range(depth):
            proc.stdout.readline()
        processes = sum(entry.isdigit() for entry in os.listdir("/proc"))
        check(proc.pid, 19, tolv(script, "IDLE", command=traced(log, TOLV)), group=group)
        reads = len(re.findall(r'/proc/\d+/stat"', read(log)))
        assert reads <= cost * processes, "%d stat reads for %d processes" % (reads, processes)
    # Some 12,000 forks a second in two other sessions, beside the trees' 5,200 processes.
    [spawn(["timeout", "60", "sh", "-c", "while :; do : & wait $!; done"]) for _ in range(2)]
    target, moved = start(name("load"), "churn").pid, []  # whose own threads come and go
    for cls, nice in (("IDLE", 19), ("NORMAL", 0)) * 5:
        tolv(name("load"), cls)
        moved.append(int(read("/proc/%d/autogroup" % target).split()[-1]) == nice)
    eq(moved.count(True), 10)


def offers(*words, command=()):  # what $COMPLETION offers for the last word, after bash-completion's helpers
    drive = 'source /usr/share/bash-completion/bash_completion && source "$COMPLETION"; COMP_WORDS=(tolv "$@"); ' \
            'COMP_CWORD=$#; COMP_LINE="tolv $*"; COMP_POINT=${#COMP_LINE}; ' \
            '_tolv tolv "${@: -1}" "${COMP_WORDS[-2]}"; [[ ${COMPREPLY[*]} ]] && printf "%s\\n" "${COMPREPLY[@]}"'
    run = subprocess.run([*command, "bash", "--norc", "-c", drive, "bash", *words], stdout=PIPE, stderr=PIPE, text=True)
    eq(run.stderr, "")  # no error on the terminal
    return run.stdout.splitlines()


def completion():
    """A Tab in an interactive bash offers after " or ' only names that run nothing in that quote, after $' one with a
    newline, else any, escaped: the line names its process (NULL the empty name). Names read as tolv does (argv[0]'s
    4,096 bytes, a deleted exe), once, with no error, by 5 processes at most; then the priority words, then none."""
    skip_unless(os.path.exists("/usr/share/bash-completion/bash_completion"), "no bash-completion")
    source = os.path.join(os.path.dirname(__file__), "..", "..", "src", "platform", "linux", "tolv.bash-completion")
    os.environ["COMPLETION"] = shutil.copy(source, DIR)  # where other users can read it, as USER_TOLV
    named = [start(comm).pid for comm in ("j$(>pwnA)", "k'$(>pwnB)'x", "w'x y", "v\n$(>pwnC)", "NULL")]
    empty = start("", prefix=(sys.executable, "-c", 'import ctypes, signal; ctypes.CDLL(None).prctl(15, b""); '
                                                    'print("ready", flush=True); signal.pause()')).pid
    stem = name("sp ace", 20)
    first = start(stem[:15] + "-exe", argv0=stem.ljust(4096, "y") + "/past").pid  # taken before the exe's name
    keys = "".join(f"{TOLV} {typed}\t\x14" for typed in ('"j', "'j", "'k", "k", '"w', "$'v", stem[:2], "NU", "nu"))
    setup = 'source /usr/share/bash-completion/bash_completion; source "$COMPLETION"; ' \
            'bind -x \'"\\C-t": eval "$READLINE_LINE IDLE"; READLINE_LINE=\'\n'  # runs the line as it stands, and IDLE
    subprocess.run(["script", "-qec", "INPUTRC=/dev/null HISTFILE= bash --norc -i", "/dev/null"], cwd=DIR,
                   input=(setup + keys + "exit\n").encode(), timeout=60)
    eq([entry for entry in os.listdir(DIR) if entry.startswith("pwn")], [])
    [check(pid, 19, ("", "")) for pid in (*named, empty, first)]
    hidden = ["unshare", "-m", "sh", "-c", 'mount -t proc -o hidepid=1 proc /proc && exec "$@"', "sh", *AS_USER]
    eq(offers("j", command=hidden), [])  # root's processes, hidden, and no error for each
    [start(name("exe", 20), argv0="other") for _ in range(30)]
    os.remove(os.path.join(DIR, name("exe", 20)))  # 30 links to read, which then end in " (deleted)"
    eq(offers(name("exe"), command=["strace", "-fqqo", DIR + "/log", "-e", "trace=%process"]), [name("exe", 20)])
    assert len(re.findall(r"^\d+ +(?:execve|clone3?|v?fork)\(", read(DIR + "/log"), re.M)) <= 5  # bash, then find
    [word] = offers(stem[:2])
    eq(sorted(offers(word, "")), sorted([cls for cls, _ in CLASSES] + ["HIGHEST"]))
    eq(offers(word, "IDLE", ""), [])


try:
    skip_unless(shutil.which("strace") or CASE not in ("kthreads", "session", "scan", "completion"), "no strace")
    globals()[CASE]()  # each case is the function of its name
finally:
    for proc in PROCS:
        with proc, contextlib.suppress(ProcessLookupError):  # closes its pipes and waits for it
            os.killpg(proc.pid, 9)
    shutil.rmtree(DIR, ignore_errors=True)
