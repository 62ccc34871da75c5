// The rule that guards a change of the group a process competes in (its
// session's autogroup, or its systemd unit): the group is changed only where
// every other process in it is the target's own.
#pragma once

#include "LinuxPlatform.h"

// A process more generations below the target than this counts as foreign;
// where the target's or this tool's line of waiting ancestors is longer,
// nothing may be changed.
#define MAX_CHAIN 64

// Who counts as the target's own, and the verdicts reached so far.
struct GROUP_RULE;

// A group's members, as the module that knows the group lists them.
struct GROUP_LIST {
    // Judges each listed process with IsForeign or IsForeignMember until one
    // is foreign: TRUE then, and where the list could not be read whole.
    BOOL (*lpfnHasForeign)(const GROUP_LIST *lpList, GROUP_RULE *lpRule);
    DWORD dwSession;        // the target's session
    const char *lpszCgroup; // the unit's cgroup; null where the group is the session
    pid_t pidParent;        // the target's parent
    int fdCgroup;           // the unit's cgroup directory
};

// Whether the group holds no process but the target's own, also none started
// while its members were read. Every process that joins the group by a fork
// gets a new number: those numbers are looked at until none is handed out.
BOOL IsGroupOwn(pid_t pidTarget, const GROUP_LIST *lpList);
// Whether a process listed as a member is neither the target's own nor this
// tool or one of its ancestors; one that cannot be read counts as foreign,
// one gone as absent.
BOOL IsForeign(GROUP_RULE *lpRule, pid_t pid);
// The same for a process that may not be in the group: FALSE where it is not.
BOOL IsForeignMember(GROUP_RULE *lpRule, pid_t pid);
// Whether a process of /proc is a foreign member: any, or where pidFrom is
// not -1, one of those started after pidFrom up to pidTo.
BOOL HasForeignInProc(GROUP_RULE *lpRule, pid_t pidFrom, pid_t pidTo);
