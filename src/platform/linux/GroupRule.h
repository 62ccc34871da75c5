// The rule that guards a change of the group a process competes in (its
// session's autogroup, or its systemd unit): the group is changed only where
// every other process in it is the target's own.
#pragma once

#include "LinuxPlatform.h"

// Deeper process trees than this are taken as holding a foreign process.
#define MAX_CHAIN 64
// Verdicts remembered per process, so that a deep tree costs a read per process.
#define VERDICT_SLOTS 4096

struct GROUP_RULE {
    pid_t pidTarget;
    DWORD dwSession;
    const char *lpszCgroup;        // a unit's cgroup; null for the session's autogroup
    pid_t aAllowed[2 * MAX_CHAIN]; // the target's chain, then this tool's
    int cAllowed;
    int cTargetChain; // the target and its ancestors in its session: the first entries
    pid_t aVerdictPid[VERDICT_SLOTS];
    signed char aVerdict[VERDICT_SLOTS]; // 1 foreign, 0 the target's own
    int cVerdicts;
};

// Sets the rule up for the target: its ancestors within its group (waiting
// for it, as its shell does; the session, or the unit's cgroup where one is
// given), and this tool with every one of its ancestors (sudo, su and their
// pseudo-terminal sessions wait for it too). FALSE where a chain is too deep
// to hold: then nothing may be changed.
BOOL InitGroupRule(GROUP_RULE *lpRule, pid_t pidTarget, DWORD dwSession, const char *lpszCgroup);
// Whether a process of the group is neither allowed nor a descendant of the
// target; one that cannot be read counts as foreign, one gone as absent.
BOOL IsForeign(GROUP_RULE *lpRule, pid_t pid);
BOOL IsAllowed(const GROUP_RULE *lpRule, pid_t pid);
// The last process ID handed out in this PID namespace, or -1: a process
// started while the members are listed may hide below the part already read.
pid_t LastPid(void);
// How often the members are listed again for processes started meanwhile
// before the group is taken as not the target's own.
#define SCAN_TRIES 8
