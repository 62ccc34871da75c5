// Who counts as the target's own in its group: the target, what it started,
// what waits for it in its session, and this tool with what waits for it.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "GroupRule.h"

// Whether the process is among the first cCount allowed ones.
static BOOL IsListed(const GROUP_RULE *lpRule, int cCount, pid_t pid)
{
    for (int i = 0; i < cCount; i++)
        if (lpRule->aAllowed[i] == pid)
            return TRUE;
    return FALSE;
}

BOOL IsAllowed(const GROUP_RULE *lpRule, pid_t pid)
{
    return IsListed(lpRule, lpRule->cAllowed, pid);
}

// Whether the process sits in the cgroup or below it.
static BOOL IsInCgroup(pid_t pid, const char *lpszCgroup)
{
    char szPath[64], szBuf[4096];
    PidPath(szPath, "/proc/", pid, "/cgroup");
    if (ReadSmallFile(AT_FDCWD, szPath, szBuf, sizeof(szBuf)) <= 0)
        return FALSE;
    const char *lpszUnified = strstr(szBuf, "0::");
    size_t cch = strlen(lpszCgroup);
    return lpszUnified != NULL && (lpszUnified == szBuf || lpszUnified[-1] == '\n') &&
           strncmp(lpszUnified + 3, lpszCgroup, cch) == 0 &&
           (lpszUnified[3 + cch] == '\n' || lpszUnified[3 + cch] == '/');
}

// Adds the process and its ancestors up to one already there: within the
// group where bGroupOnly (its cgroup, where one is given, else its session),
// else up to the top of this PID namespace.
static BOOL AddChain(GROUP_RULE *lpRule, pid_t pid, BOOL bGroupOnly)
{
    for (int i = 0; pid > 0 && i < MAX_CHAIN && !IsAllowed(lpRule, pid); i++) {
        char szPath[64];
        STAT_INFO info;
        PidPath(szPath, "/proc/", pid, "/stat");
        if (!ReadStat(AT_FDCWD, szPath, &info))
            return TRUE;
        if (bGroupOnly && (lpRule->lpszCgroup != NULL ? !IsInCgroup(pid, lpRule->lpszCgroup)
                                                      : info.dwSession != lpRule->dwSession))
            return TRUE;
        lpRule->aAllowed[lpRule->cAllowed++] = pid;
        pid = (pid_t)info.dwParent;
    }
    return pid <= 0 || IsAllowed(lpRule, pid);
}

BOOL InitGroupRule(GROUP_RULE *lpRule, pid_t pidTarget, DWORD dwSession, const char *lpszCgroup)
{
    lpRule->pidTarget = pidTarget;
    lpRule->dwSession = dwSession;
    lpRule->lpszCgroup = lpszCgroup;
    lpRule->cAllowed = 0;
    lpRule->cVerdicts = 0;
    for (int i = 0; i < VERDICT_SLOTS; i++)
        lpRule->aVerdictPid[i] = 0;
    BOOL bChains = AddChain(lpRule, pidTarget, TRUE);
    lpRule->cTargetChain = lpRule->cAllowed;
    return bChains && AddChain(lpRule, getpid(), FALSE);
}

// The slot of a process's verdict, or the empty slot where it would go.
static int VerdictSlot(const GROUP_RULE *lpRule, pid_t pid)
{
    int i = (int)((unsigned)pid * 2654435761u % VERDICT_SLOTS);
    while (lpRule->aVerdictPid[i] != 0 && lpRule->aVerdictPid[i] != pid)
        i = (i + 1) % VERDICT_SLOTS;
    return i;
}

static void Remember(GROUP_RULE *lpRule, const pid_t *lpPids, int cPids, BOOL bForeign)
{
    // A table kept three quarters empty at most stays quick to probe.
    for (int i = 0; i < cPids && lpRule->cVerdicts < VERDICT_SLOTS * 3 / 4; i++) {
        int iSlot = VerdictSlot(lpRule, lpPids[i]);
        if (lpRule->aVerdictPid[iSlot] == 0)
            lpRule->cVerdicts++;
        lpRule->aVerdictPid[iSlot] = lpPids[i];
        lpRule->aVerdict[iSlot] = (signed char)bForeign;
    }
}

BOOL IsForeign(GROUP_RULE *lpRule, pid_t pid)
{
    pid_t aPath[MAX_CHAIN];
    int cPath = 0;
    BOOL bForeign = TRUE;
    for (;;) {
        if (pid == lpRule->pidTarget) {
            bForeign = FALSE;
            break;
        }
        int iSlot = VerdictSlot(lpRule, pid);
        if (lpRule->aVerdictPid[iSlot] == pid) {
            bForeign = lpRule->aVerdict[iSlot];
            break;
        }
        // Above an ancestor of the target, no path leads down to it.
        if ((cPath > 0 && IsListed(lpRule, lpRule->cTargetChain, pid)) || cPath == MAX_CHAIN)
            break;
        char szPath[64];
        STAT_INFO info;
        PidPath(szPath, "/proc/", pid, "/stat");
        if (!ReadStat(AT_FDCWD, szPath, &info)) {
            if (cPath == 0 && IsGone(errno))
                return FALSE; // gone: it has no share to change
            break;            // an ancestor gone: reparented, so unknown
        }
        if (cPath == 0 && HasEnded(&info))
            return FALSE; // a zombie has no share to change
        aPath[cPath++] = pid;
        pid = (pid_t)info.dwParent;
        if (pid <= 0)
            break; // the top of this PID namespace, or a parent outside it
    }
    Remember(lpRule, aPath, cPath, bForeign);
    return bForeign;
}

pid_t LastPid(void)
{
    char szBuf[32];
    if (ReadSmallFile(AT_FDCWD, "/proc/sys/kernel/ns_last_pid", szBuf, sizeof(szBuf)) <= 0)
        return -1;
    return (pid_t)atoi(szBuf);
}
