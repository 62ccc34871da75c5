#!/usr/bin/env python3
"""Puts back the machine's scheduling after runs of a planted (mutated) tolv.

  sched-restore.py save FILE     records each thread's policy and nice and each group's nice
  sched-restore.py restore FILE  sets back what differs; a newer thread under SCHED_IDLE
                                 (inherited from one the planted tolv changed) goes to SCHED_OTHER

A tolv that matches the wrong names changes processes of the whole machine, and
what it leaves behind (kthreadd or rcu_preempt under SCHED_IDLE) slows every
later run: run restore after each test run of a mutation run."""
import json, os, sys


def threads():
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for tid in os.listdir("/proc/%s/task" % pid):
                with open("/proc/%s/task/%s/stat" % (pid, tid)) as f:
                    start = f.read().rsplit(")", 1)[1].split()[19]  # field 22, the start time
                yield pid, int(tid), start
        except OSError:
            pass  # ended meanwhile


def state():
    threads_, groups = {}, {}
    for pid, tid, start in threads():
        try:
            threads_["%d/%s" % (tid, start)] = [os.sched_getscheduler(tid), os.getpriority(os.PRIO_PROCESS, tid)]
            with open("/proc/%s/autogroup" % pid) as f:
                line = f.read()
            if " nice " in line:  # kernel threads are in no group
                group, nice = line.split(" nice ")
                groups[group] = [pid, int(nice)]
        except OSError:
            pass
    return {"threads": threads_, "groups": groups}


def restore(saved):
    for key, (policy, nice) in state()["threads"].items():
        tid = int(key.split("/")[0])
        want = saved["threads"].get(key, [os.SCHED_OTHER if policy == os.SCHED_IDLE else policy, nice])
        try:
            if policy != want[0] and want[0] in (os.SCHED_OTHER, os.SCHED_BATCH, os.SCHED_IDLE):
                os.sched_setscheduler(tid, want[0], os.sched_param(0))
            if nice != want[1] and policy not in (os.SCHED_FIFO, os.SCHED_RR):
                os.setpriority(os.PRIO_PROCESS, tid, want[1])
        except OSError:
            pass
    for group, (pid, nice) in state()["groups"].items():
        if group in saved["groups"] and saved["groups"][group][1] != nice:
            try:
                with open("/proc/%s/autogroup" % pid, "w") as f:
                    f.write(str(saved["groups"][group][1]))
            except OSError:
                pass


if __name__ == "__main__":
    mode, path = sys.argv[1:3]
    if mode == "save":
        with open(path, "w") as f:
            json.dump(state(), f)
    else:
        with open(path) as f:
            restore(json.load(f))
