// Who counts as the target's own in its group: the target, what it started,
// what waits for it in its group, and this tool with what waits for it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ErrorCode.h"
#include "GroupRule.h"
#include "Proc.h"
#include "Verdicts.h"

// Looks at the numbers handed out meanwhile this often before giving the group up.
#define SCAN_TRIES 64
// More numbers handed out than this during one look are found by a listing of /proc.
#define MAX_NEW_PIDS 4096
#define LAST_PID_FILE "/proc/sys/kernel/ns_last_pid"

// A remembered verdict: foreign, or how many generations below the target.
#define VERDICT_FOREIGN (-1)

struct GROUP_RULE {
    pid_t pidTarget;
    DWORD dwSession;
    const char *lpszCgroup;        // a unit's cgroup; null for the session's autogroup
    pid_t aAllowed[2 * MAX_CHAIN]; // the target's chain, then this tool's
    int cAllowed;
    int cTargetChain;       // the target and its ancestors in its group: the first entries
    VERDICTS verdicts;      // without memory every walk goes the whole way up
    pid_t pidFirst, pidNow; // numbers handed out after the first up to now: remembered verdicts may be stale
};

// Whether the process is among the first cCount allowed ones.
static BOOL IsListed(const GROUP_RULE *lpRule, int cCount, pid_t pid)
{
    for (int i = 0; i < cCount; i++)
        if (lpRule->aAllowed[i] == pid)
            return TRUE;
    return FALSE;
}

static BOOL IsAllowed(const GROUP_RULE *lpRule, pid_t pid)
{
    return IsListed(lpRule, lpRule->cAllowed, pid);
}

// Whether the process sits in the cgroup or below it.
static BOOL IsInCgroup(pid_t pid, const char *lpszCgroup)
{
    char szPath[64], szBuf[4096];
    Proc_FormatPid(szPath, "/proc/", pid, "/cgroup");
    if (Proc_ReadFile(AT_FDCWD, szPath, szBuf, sizeof(szBuf)) <= 0)
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
        STAT_INFO info;
        if (!Proc_ReadStatOf(pid, &info))
            return TRUE;
        if (bGroupOnly && (lpRule->lpszCgroup != NULL ? !IsInCgroup(pid, lpRule->lpszCgroup)
                                                      : info.dwSession != lpRule->dwSession))
            return TRUE;
        lpRule->aAllowed[lpRule->cAllowed++] = pid;
        pid = (pid_t)info.dwParent;
    }
    return pid <= 0 || IsAllowed(lpRule, pid);
}

// Sets the rule up for the target: its ancestors within its group (waiting
// for it, as its shell does), and this tool with every one of its ancestors
// (sudo, su and their pseudo-terminal sessions wait for it too). FALSE where
// a chain is too deep to hold: then nothing may be changed.
static BOOL InitGroupRule(GROUP_RULE *lpRule, pid_t pidTarget, const GROUP *lpGroup)
{
    lpRule->pidTarget = pidTarget;
    lpRule->dwSession = lpGroup->dwSession;
    lpRule->lpszCgroup = lpGroup->lpszCgroup;
    lpRule->cAllowed = 0;
    lpRule->pidFirst = lpRule->pidNow = 0;
    Verdicts_Init(&lpRule->verdicts);
    BOOL bChains = AddChain(lpRule, pidTarget, TRUE);
    lpRule->cTargetChain = lpRule->cAllowed;
    return bChains && AddChain(lpRule, getpid(), FALSE);
}

// Whether the process ID was handed out after pidFrom up to pidTo, numbers
// wrapping past the largest back to the smallest.
static BOOL IsNewPid(pid_t pid, pid_t pidFrom, pid_t pidTo)
{
    return pidFrom <= pidTo ? pid > pidFrom && pid <= pidTo : pid > pidFrom || pid <= pidTo;
}

static int Recall(const GROUP_RULE *lpRule, pid_t pid)
{
    // A number handed out again may name another process.
    if (IsNewPid(pid, lpRule->pidFirst, lpRule->pidNow))
        return NO_VERDICT;
    return Verdicts_Find(&lpRule->verdicts, pid);
}

// Remembers the children of the first thread of one of the target's own,
// which lie a generation below it: then a family costs two reads, not one per
// member. Those past the buffer's end, or another thread's, are judged apart.
static void RememberChildren(GROUP_RULE *lpRule, pid_t pidParent, int nDepth)
{
    char szBuf[16384];
    if (Proc_ReadChildren(pidParent, szBuf, sizeof(szBuf)) < 0)
        return;
    for (char *p = szBuf;;) {
        char *lpszEnd;
        pid_t pid = (pid_t)strtol(p, &lpszEnd, 10);
        if (lpszEnd == p || *lpszEnd != ' ')
            break; // the end, or a number cut at the buffer's end
        Verdicts_Put(&lpRule->verdicts, pid, nDepth);
        p = lpszEnd + 1;
    }
}

// The verdict on a process (its stat record in lpKnown, or read here): the
// walk up its ancestors stops at the target, at a process judged before, at
// an ancestor of the target (above which no path leads down to it), or where
// the line cannot be followed, and every process passed is remembered with
// its depth below the target, so that the depth decides whatever the order.
static BOOL Judge(GROUP_RULE *lpRule, pid_t pid, const STAT_INFO *lpKnown)
{
    int nDepth = Recall(lpRule, pid);
    if (IsAllowed(lpRule, pid))
        return FALSE;
    if (nDepth != NO_VERDICT)
        return nDepth == VERDICT_FOREIGN;
    STAT_INFO info;
    if (lpKnown != NULL)
        info = *lpKnown;
    else if (!Proc_ReadStatOf(pid, &info))
        return !ErrorCode_IsGone(errno); // gone: it has no share to change
    if (Proc_HasEnded(&info))
        return FALSE; // nor has a zombie
    pid_t aPath[MAX_CHAIN], pidParent = (pid_t)info.dwParent;
    int cPath = 0;
    for (;;) {
        aPath[cPath++] = pid;
        pid = (pid_t)info.dwParent;
        if (pid == lpRule->pidTarget) {
            nDepth = 0;
            break;
        }
        if ((nDepth = Recall(lpRule, pid)) != NO_VERDICT)
            break;
        nDepth = VERDICT_FOREIGN;
        // A full path not ending at the target starts more than MAX_CHAIN below it.
        if (pid <= 0 || cPath == MAX_CHAIN || IsListed(lpRule, lpRule->cTargetChain, pid) ||
            !Proc_ReadStatOf(pid, &info))
            break; // the top of this PID namespace, a parent outside it, or one gone (reparented)
    }
    while (cPath > 0) {
        if (nDepth != VERDICT_FOREIGN)
            nDepth = nDepth < MAX_CHAIN ? nDepth + 1 : VERDICT_FOREIGN;
        Verdicts_Put(&lpRule->verdicts, aPath[--cPath], nDepth);
    }
    if (nDepth != VERDICT_FOREIGN)
        RememberChildren(lpRule, pidParent, nDepth); // its siblings
    return nDepth == VERDICT_FOREIGN;
}

BOOL GroupRule_IsForeign(GROUP_RULE *lpRule, pid_t pid)
{
    return Judge(lpRule, pid, NULL);
}

BOOL GroupRule_IsForeignMember(GROUP_RULE *lpRule, pid_t pid)
{
    if (IsAllowed(lpRule, pid) || Recall(lpRule, pid) >= 0)
        return FALSE; // the target's own, wherever it is
    if (lpRule->lpszCgroup != NULL)
        return IsInCgroup(pid, lpRule->lpszCgroup) && Judge(lpRule, pid, NULL);
    STAT_INFO info;
    if (!Proc_ReadStatOf(pid, &info))
        return !ErrorCode_IsGone(errno);
    return info.dwSession == lpRule->dwSession && Judge(lpRule, pid, &info);
}

// The process a number names: itself, or for a thread, whose number /proc
// also opens, the process it belongs to.
static pid_t ProcessOf(pid_t pid)
{
    char szPath[64], szBuf[512];
    Proc_FormatPid(szPath, "/proc/", pid, "/status");
    if (Proc_ReadFile(AT_FDCWD, szPath, szBuf, sizeof(szBuf)) <= 0)
        return pid;
    const char *lpszTgid = strstr(szBuf, "\nTgid:");
    return lpszTgid != NULL ? (pid_t)atoi(lpszTgid + 6) : pid;
}

// A number handed out meanwhile; /proc opens a thread's too, whose process is judged.
static BOOL IsForeignNewPid(GROUP_RULE *lpRule, pid_t pid)
{
    STAT_INFO info;
    BOOL bMember = lpRule->lpszCgroup != NULL
                       ? IsInCgroup(pid, lpRule->lpszCgroup)
                       : Proc_ReadStatOf(pid, &info) && info.dwSession == lpRule->dwSession;
    return bMember && GroupRule_IsForeignMember(lpRule, ProcessOf(pid));
}

// A number from a file of /proc/sys/kernel, or -1.
static pid_t ReadPidFile(const char *lpszPath)
{
    char szBuf[32];
    if (Proc_ReadFile(AT_FDCWD, lpszPath, szBuf, sizeof(szBuf)) <= 0)
        return -1;
    return (pid_t)atoi(szBuf);
}

// Whether a process of /proc is a foreign member: any, or where pidFrom is
// not -1, one of those started after pidFrom up to pidTo.
static BOOL HasForeignInProcSince(GROUP_RULE *lpRule, pid_t pidFrom, pid_t pidTo)
{
    DIR *lpProcDir = opendir("/proc");
    if (lpProcDir == NULL)
        return TRUE;
    BOOL bForeign = FALSE;
    struct dirent *lpEntry;
    while (!bForeign && (errno = 0, lpEntry = readdir(lpProcDir)) != NULL) {
        pid_t pid;
        bForeign = Proc_ParsePid(lpEntry->d_name, &pid) && (pidFrom < 0 || IsNewPid(pid, pidFrom, pidTo)) &&
                   GroupRule_IsForeignMember(lpRule, pid);
    }
    bForeign |= lpEntry == NULL && errno != 0; // a list cut short may hide one
    closedir(lpProcDir);
    return bForeign;
}

BOOL GroupRule_HasForeignInProc(GROUP_RULE *lpRule)
{
    return HasForeignInProcSince(lpRule, -1, 0);
}

// Whether a number handed out after pidFrom up to pidTo names a foreign
// process of the group.
static BOOL HasForeignAmongNewPids(GROUP_RULE *lpRule, pid_t pidFrom, pid_t pidTo)
{
    pid_t pidEnd = pidTo > pidFrom ? pidTo + 1 : ReadPidFile("/proc/sys/kernel/pid_max");
    if (pidTo >= pidEnd || (pidTo > pidFrom ? pidTo - pidFrom : pidEnd - 1 - pidFrom + pidTo) > MAX_NEW_PIDS)
        return HasForeignInProcSince(lpRule, pidFrom, pidTo); // as across a wrap where the largest is high
    // Number by number: a listing of /proc is long enough for others to start processes.
    for (pid_t pid = pidFrom; pid != pidTo;) {
        pid = pid + 1 < pidEnd ? pid + 1 : 1;
        if (IsForeignNewPid(lpRule, pid))
            return TRUE;
    }
    return FALSE;
}

BOOL GroupRule_IsOwn(pid_t pidTarget, const GROUP *lpGroup)
{
    GROUP_RULE rule;
    BOOL bOwn = FALSE;
    pid_t pidFrom = -1;
    // A foreign member may leave a child on a number the look had passed, and end.
    if (InitGroupRule(&rule, pidTarget, lpGroup) &&
        (rule.pidFirst = rule.pidNow = pidFrom = ReadPidFile(LAST_PID_FILE)) >= 0 &&
        !lpGroup->lpfnHasForeign(lpGroup, &rule)) {
        for (int i = 0; i < SCAN_TRIES && !bOwn; i++) {
            pid_t pidTo = ReadPidFile(LAST_PID_FILE);
            rule.pidNow = pidTo;
            if (pidTo < 0 || (pidTo != pidFrom && HasForeignAmongNewPids(&rule, pidFrom, pidTo)))
                break;
            bOwn = pidTo == pidFrom;
            pidFrom = pidTo;
        }
    }
    // A process moved into a cgroup takes no new number: the members once more.
    bOwn = bOwn && (lpGroup->lpszCgroup == NULL || !lpGroup->lpfnHasForeign(lpGroup, &rule));
    Verdicts_Free(&rule.verdicts);
    return bOwn;
}
