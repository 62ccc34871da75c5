// The rule that guards a change of the group a process competes in (its
// session's autogroup, or its systemd unit): the group is changed only where
// every other process in it is the target's own. A process that is not, nor
// this tool or one of its ancestors, is foreign.
#pragma once

#include <sys/types.h>

#include "Win32Api.h"

// A process more generations below the target than this counts as foreign;
// where the target's or this tool's line of waiting ancestors is longer,
// nothing may be changed.
#define MAX_CHAIN 64

// Who counts as the target's own, and the verdicts reached so far.
struct GROUP_RULE;

// The group in question, described by the module that knows it.
struct GROUP {
    // Looks through the group's members, judging each with
    // GroupRule_IsForeign or GroupRule_IsForeignMember until one is foreign:
    // TRUE then, and where the members could not be read whole.
    BOOL (*lpfnHasForeign)(const GROUP *lpGroup, GROUP_RULE *lpRule);
    DWORD dwSession;        // the target's session
    const char *lpszCgroup; // the unit's cgroup; null where the group is the session
    pid_t pidParent;        // the target's parent
    int fdCgroup;           // the unit's cgroup directory
};

// Whether the group holds no process but the target's own, also none started
// while its members were read. Every process that joins the group by a fork
// gets a new number: those numbers are looked at until none is handed out.
BOOL GroupRule_IsOwn(pid_t pidTarget, const GROUP *lpGroup);
// Whether a process listed as a member is foreign; one that cannot be read
// counts as foreign, one gone as absent.
BOOL GroupRule_IsForeign(GROUP_RULE *lpRule, pid_t pid);
// The same for a process that may not be in the group: FALSE where it is not.
BOOL GroupRule_IsForeignMember(GROUP_RULE *lpRule, pid_t pid);
// Whether any process of /proc is a foreign member.
BOOL GroupRule_HasForeignInProc(GROUP_RULE *lpRule);
