// The session's autogroup. The kernel weighs a thread's nice only against the
// threads of its own group, and without a cpu cgroup in the way it groups by
// session: a class must move the group to take effect against the rest of the
// machine. The group is the whole session's, so it is changed only where every
// other process in it is the target's own: one it started (a descendant), one
// waiting for it (an ancestor, such as its shell), or this tool and those
// waiting for it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "LinuxPlatform.h"

// Deeper process trees than this are taken as holding a foreign process.
#define MAX_CHAIN 64
// The file refuses a second write within 100 ms without CAP_SYS_ADMIN.
#define WRITE_TRIES 30
#define WRITE_PAUSE_NS 10000000L

struct SESSION_RULE {
    pid_t pidTarget;
    DWORD dwSession;
    char szGroup[64];              // "/autogroup-N", the group's name
    pid_t aAllowed[2 * MAX_CHAIN]; // the target's chain, then this tool's
    int cAllowed;
    int cTargetChain; // the target and its ancestors: the first entries
};

// The group's name and nice from an autogroup file; FALSE where the process
// is in no autogroup (the root group shows nothing) or the file is unreadable.
static BOOL ReadGroup(int fdDir, const char *lpszPath, char *lpszGroup, int *lpnNice)
{
    char szBuf[128];
    if (ReadSmallFile(fdDir, lpszPath, szBuf, sizeof(szBuf)) <= 0)
        return FALSE;
    char *lpszNice = strstr(szBuf, " nice ");
    if (szBuf[0] != '/' || lpszNice == NULL || lpszNice - szBuf >= 63)
        return FALSE;
    *lpszNice = '\0';
    strcpy(lpszGroup, szBuf);
    *lpnNice = atoi(lpszNice + 6);
    return TRUE;
}

// Whether the process is in the target's group: FALSE also where it is gone.
static BOOL IsInGroup(const SESSION_RULE *lpRule, pid_t pid)
{
    char szPath[64], szGroup[64];
    int nNice;
    PidPath(szPath, "/proc/", pid, "/autogroup");
    return ReadGroup(AT_FDCWD, szPath, szGroup, &nNice) && strcmp(szGroup, lpRule->szGroup) == 0;
}

// Whether the process is among the first cCount allowed ones.
static BOOL IsListed(const SESSION_RULE *lpRule, int cCount, pid_t pid)
{
    for (int i = 0; i < cCount; i++)
        if (lpRule->aAllowed[i] == pid)
            return TRUE;
    return FALSE;
}

static BOOL IsAllowed(const SESSION_RULE *lpRule, pid_t pid)
{
    return IsListed(lpRule, lpRule->cAllowed, pid);
}

// Adds the process and its ancestors within the session, up to one already
// there; FALSE where the chain is too deep to hold.
static BOOL AddChain(SESSION_RULE *lpRule, pid_t pid)
{
    for (int i = 0; pid > 0 && i < MAX_CHAIN && !IsAllowed(lpRule, pid); i++) {
        char szPath[64];
        STAT_INFO info;
        PidPath(szPath, "/proc/", pid, "/stat");
        if (!ReadStat(AT_FDCWD, szPath, &info) || info.dwSession != lpRule->dwSession)
            return TRUE;
        lpRule->aAllowed[lpRule->cAllowed++] = pid;
        pid = (pid_t)info.dwParent;
    }
    return pid <= 0 || IsAllowed(lpRule, pid);
}

// Whether a process of the group that is not allowed does not descend from
// the target either; an unreadable chain counts as foreign.
static BOOL IsForeign(const SESSION_RULE *lpRule, pid_t pid)
{
    for (int i = 0; i < MAX_CHAIN; i++) {
        if (pid == lpRule->pidTarget)
            return FALSE;
        // Above an ancestor of the target, no path leads down to it.
        if (i > 0 && IsListed(lpRule, lpRule->cTargetChain, pid))
            return TRUE;
        char szPath[64];
        STAT_INFO info;
        PidPath(szPath, "/proc/", pid, "/stat");
        if (!ReadStat(AT_FDCWD, szPath, &info))
            return i > 0 || !IsGone(errno); // an ancestor gone: reparented, so unknown
        if (i == 0 && HasEnded(&info))
            return FALSE; // a zombie has no share to change
        pid = (pid_t)info.dwParent;
        if (pid <= 1)
            return TRUE;
    }
    return TRUE;
}

// The cheap check first: a sibling of the target in its group, such as a
// second command of the same shell, or one of a pipeline.
static BOOL HasForeignSibling(const SESSION_RULE *lpRule, pid_t pidParent)
{
    char szPath[64], szBuf[128];
    PidPath(szPath, "/proc/", pidParent, "/task/");
    size_t cch = strlen(szPath);
    PidPath(szPath + cch, "", pidParent, "/children");
    // The first few will do, and the kernel makes the list as it is read, at a
    // cost that shows with a thousand children: the full scan finds the rest.
    if (ReadSmallFile(AT_FDCWD, szPath, szBuf, sizeof(szBuf)) < 0)
        return FALSE;
    for (char *p = szBuf; *p != '\0';) {
        char *lpszEnd;
        pid_t pid = (pid_t)strtol(p, &lpszEnd, 10);
        if (lpszEnd == p || *lpszEnd != ' ')
            break; // the end, or a number cut at the buffer's end
        p = lpszEnd + 1;
        if (!IsAllowed(lpRule, pid) && IsInGroup(lpRule, pid) && IsForeign(lpRule, pid))
            return TRUE;
    }
    return FALSE;
}

// Every process of /proc in the target's group. One we may not read (hidepid)
// counts as one we cannot see, as in the walk.
static BOOL HasForeignMember(const SESSION_RULE *lpRule)
{
    DIR *lpProcDir = opendir("/proc");
    if (lpProcDir == NULL)
        return TRUE;
    BOOL bForeign = FALSE;
    struct dirent *lpEntry;
    while (!bForeign && (errno = 0, lpEntry = readdir(lpProcDir)) != NULL) {
        pid_t pid;
        if (ParsePid(lpEntry->d_name, &pid) && !IsAllowed(lpRule, pid))
            bForeign = IsInGroup(lpRule, pid) && IsForeign(lpRule, pid);
    }
    bForeign |= lpEntry == NULL && errno != 0; // a list cut short may hide one
    closedir(lpProcDir);
    return bForeign;
}

// A cpu cgroup other than the root weighs its processes as one, and the
// autogroup then counts for nothing: cgroup v1's cpu hierarchy, or v2 where
// the root passes the cpu controller down.
static BOOL IsInRootCpuGroup(int fdProcDir)
{
    char szBuf[4096];
    if (ReadSmallFile(fdProcDir, "cgroup", szBuf, sizeof(szBuf)) <= 0)
        return FALSE;
    const char *lpszUnified = NULL;
    for (char *lpszLine = strtok(szBuf, "\n"); lpszLine != NULL; lpszLine = strtok(NULL, "\n")) {
        char *lpszList = strchr(lpszLine, ':');
        char *lpszPath = lpszList == NULL ? NULL : strchr(lpszList + 1, ':');
        if (lpszPath == NULL)
            continue;
        *lpszPath++ = '\0';
        if (strcmp(lpszList, ":") == 0)
            lpszUnified = lpszPath;
        char *lpszNext;
        for (char *lpszName = strtok_r(lpszList + 1, ",", &lpszNext); lpszName != NULL;
             lpszName = strtok_r(NULL, ",", &lpszNext))
            if (strcmp(lpszName, "cpu") == 0)
                return strcmp(lpszPath, "/") == 0;
    }
    if (lpszUnified == NULL || strcmp(lpszUnified, "/") == 0)
        return TRUE;
    char szControllers[256];
    return ReadSmallFile(AT_FDCWD, "/sys/fs/cgroup/cgroup.subtree_control", szControllers,
                         sizeof(szControllers)) >= 0 &&
           strstr(szControllers, "cpu ") == NULL && strstr(szControllers, "cpu\n") == NULL;
}

static DWORD WriteGroupNice(int fdProcDir, int nNice)
{
    int fd = openat(fdProcDir, "autogroup", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return ProcErrnoToWin32(errno);
    char szNice[16];
    PidPath(szNice, nNice < 0 ? "-" : "", nNice < 0 ? -nNice : nNice, "");
    int nErrno = 0;
    for (int i = 0; i < WRITE_TRIES; i++) {
        nErrno = write(fd, szNice, strlen(szNice)) < 0 ? errno : 0;
        if (nErrno != EAGAIN)
            break;
        // Another change of any group in the last 100 ms: wait it out, so that
        // two runs in a row both take effect.
        struct timespec ts = {0, WRITE_PAUSE_NS};
        nanosleep(&ts, NULL);
    }
    close(fd);
    return ProcErrnoToWin32(nErrno);
}

DWORD SetSessionGroup(const LINUX_HANDLE *lpProc, int nNice)
{
    SESSION_RULE rule;
    int nNow;
    STAT_INFO info;
    // No group (the root one, or a kernel without them), or nothing to change.
    if (!ReadGroup(lpProc->fdProcDir, "autogroup", rule.szGroup, &nNow) || nNow == nNice ||
        !IsInRootCpuGroup(lpProc->fdProcDir) || !ReadStat(lpProc->fdProcDir, "stat", &info))
        return ERROR_SUCCESS;
    rule.pidTarget = lpProc->pid;
    rule.dwSession = info.dwSession;
    rule.cAllowed = 0;
    BOOL bChains = AddChain(&rule, lpProc->pid);
    rule.cTargetChain = rule.cAllowed;
    if (!bChains || !AddChain(&rule, getpid()) || HasForeignSibling(&rule, (pid_t)info.dwParent) ||
        HasForeignMember(&rule))
        return ERROR_SUCCESS;
    return WriteGroupNice(lpProc->fdProcDir, nNice);
}
