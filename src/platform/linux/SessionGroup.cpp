// The session's autogroup. Without a cpu cgroup in the way the kernel groups
// threads by session, and a thread's nice weighs only against its own group:
// a class must move the group to take effect against the rest of the
// machine. The group is the whole session's, so the rule of GroupRule.h
// guards it.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "ErrorCode.h"
#include "GroupRule.h"
#include "Proc.h"
#include "SessionGroup.h"

// The file refuses a write within 100 ms of another group's change unless the
// caller holds CAP_SYS_ADMIN: tries again this often, for up to a second.
#define WRITE_PAUSE_NS 1000000L
#define WRITE_WAIT_NS 1000000000LL

// The nice of the group in an autogroup file; FALSE where the process is in
// no autogroup (the root group shows nothing) or the file is unreadable.
static BOOL ReadGroupNice(int fdDir, const char *lpszPath, int *lpnNice)
{
    char szBuf[128];
    if (Proc_ReadFile(fdDir, lpszPath, szBuf, sizeof(szBuf)) <= 0)
        return FALSE;
    const char *lpszNice = strstr(szBuf, " nice ");
    if (szBuf[0] != '/' || lpszNice == NULL)
        return FALSE;
    *lpnNice = atoi(lpszNice + 6);
    return TRUE;
}

// The cheap check first: a sibling of the target in its session, such as a
// second command of the same shell, or one of a pipeline.
static BOOL HasForeignAmongSiblings(GROUP_RULE *lpRule, pid_t pidParent)
{
    char szBuf[128];
    // The first few will do, and the kernel makes the list as it is read, at a
    // cost that shows with a thousand children: the full scan finds the rest.
    if (Proc_ReadChildren(pidParent, szBuf, sizeof(szBuf)) < 0)
        return FALSE;
    for (char *p = szBuf; *p != '\0';) {
        char *lpszEnd;
        pid_t pid = (pid_t)strtol(p, &lpszEnd, 10);
        if (lpszEnd == p || *lpszEnd != ' ')
            break; // the end, or a number cut at the buffer's end
        p = lpszEnd + 1;
        if (GroupRule_IsForeignMember(lpRule, pid))
            return TRUE;
    }
    return FALSE;
}

// The session's processes, each of /proc whose stat record names it: the
// group is the session's, which a fork keeps and setsid leaves for a new one.
static BOOL HasForeignInSession(const GROUP *lpGroup, GROUP_RULE *lpRule)
{
    return HasForeignAmongSiblings(lpRule, lpGroup->pidParent) || GroupRule_HasForeignInProc(lpRule);
}

static long long Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static DWORD WriteGroupNice(int fdProcDir, int nNice)
{
    int fd = openat(fdProcDir, "autogroup", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return ErrorCode_FromProcErrno(errno);
    char szNice[16];
    snprintf(szNice, sizeof(szNice), "%d", nNice);
    int nErrno;
    long long llDeadline = Now() + WRITE_WAIT_NS;
    // Another change of any group in the last 100 ms: wait it out, so that
    // two runs in a row both take effect.
    while ((nErrno = write(fd, szNice, strlen(szNice)) < 0 ? errno : 0) == EAGAIN && Now() < llDeadline) {
        struct timespec ts = {0, WRITE_PAUSE_NS};
        nanosleep(&ts, NULL);
    }
    close(fd);
    return ErrorCode_FromProcErrno(nErrno);
}

DWORD SessionGroup_Set(const PROCESS_OBJECT *lpProc, const STAT_INFO *lpInfo, int nNice)
{
    GROUP group = {HasForeignInSession, lpInfo->dwSession, NULL, (pid_t)lpInfo->dwParent, -1};
    int nNow;
    // No group (the root one, or a kernel without them), nothing to change, or others in it.
    if (!ReadGroupNice(lpProc->fdProcDir, "autogroup", &nNow) || nNow == nNice ||
        !GroupRule_IsOwn(lpProc->pid, &group))
        return ERROR_SUCCESS;
    return WriteGroupNice(lpProc->fdProcDir, nNice);
}
