// The systemd unit whose cgroup is a cpu group of its own (cgroup v2): a
// thread's nice weighs only within it, so the class also sets the unit's
// CPUWeight, at run time, through the unit's manager, as
// "systemctl set-property --runtime" does. systemd alone writes the cgroups it
// made; this tool only reads them. libsystemd is loaded when needed, so that
// the tool runs where systemd is absent; there the unit is left alone.
#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "Bus.h"
#include "GroupRule.h"
#include "UnitWeight.h"

// Nested cgroups below the unit's are looked into this deep at the most.
#define MAX_CGROUP_DEPTH 16

// CPUWeight and CPUShares, cgroup v1's older setting, unset.
#define CPU_WEIGHT_UNSET UINT64_MAX
#define CPU_SHARES_UNSET UINT64_MAX

// Whether a unit's weight is unset or one that a class gives, which this tool
// may change: any other is a setting of someone else's (a unit file's, an
// administrator's), which stays.
static BOOL IsUnsetOrClassWeight(uint64_t ullWeight)
{
    return ullWeight == CPU_WEIGHT_UNSET || Classes_IsWeight(ullWeight);
}

// Whether a cgroup's cgroup.procs, or that of one below it, lists a process
// that is not the target's own; a 0 there is one of another PID namespace.
static BOOL HasForeignInCgroupTree(GROUP_RULE *lpRule, int fdCgroup, int nDepth)
{
    int fd = openat(fdCgroup, "cgroup.procs", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return TRUE;
    char szBuf[4096];
    size_t cchKept = 0;
    ssize_t cb;
    BOOL bForeign = FALSE;
    while (!bForeign && (cb = read(fd, szBuf + cchKept, sizeof(szBuf) - 1 - cchKept)) > 0) {
        szBuf[cchKept + (size_t)cb] = '\0';
        char *p = szBuf, *lpszLine;
        // Whole lines only; a number cut at the buffer's end waits for the rest.
        while (!bForeign && (lpszLine = strchr(p, '\n')) != NULL) {
            pid_t pid = (pid_t)atoi(p);
            bForeign = pid <= 0 || GroupRule_IsForeign(lpRule, pid);
            p = lpszLine + 1;
        }
        cchKept = strlen(p);
        memmove(szBuf, p, cchKept);
    }
    bForeign |= cb < 0;
    close(fd);
    DIR *lpDir = bForeign ? NULL : fdopendir(openat(fdCgroup, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lpDir == NULL)
        return TRUE;
    struct dirent *lpEntry;
    while (!bForeign && (lpEntry = readdir(lpDir)) != NULL) {
        if (lpEntry->d_type != DT_DIR || lpEntry->d_name[0] == '.')
            continue;
        int fdChild = openat(fdCgroup, lpEntry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bForeign =
            fdChild < 0 || nDepth >= MAX_CGROUP_DEPTH || HasForeignInCgroupTree(lpRule, fdChild, nDepth + 1);
        if (fdChild >= 0)
            close(fdChild);
    }
    closedir(lpDir);
    return bForeign;
}

static BOOL HasForeignInUnit(const GROUP *lpGroup, GROUP_RULE *lpRule)
{
    return HasForeignInCgroupTree(lpRule, lpGroup->fdCgroup, 0);
}

// Every process of the cgroup's tree is the target's own, also those started
// while it was read.
static BOOL IsUnitOwn(const PROCESS_OBJECT *lpProc, const STAT_INFO *lpInfo, const char *lpszCgroup)
{
    char szPath[1100];
    snprintf(szPath, sizeof(szPath), "/sys/fs/cgroup%s", lpszCgroup);
    GROUP group = {HasForeignInUnit, lpInfo->dwSession, lpszCgroup, (pid_t)lpInfo->dwParent,
                   open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    BOOL bOwn = group.fdCgroup >= 0 && GroupRule_IsOwn(lpProc->pid, &group);
    if (group.fdCgroup >= 0)
        close(group.fdCgroup);
    return bOwn;
}

#define PROPERTIES "org.freedesktop.DBus.Properties"

// The object, weight and shares of the manager's unit of that cgroup, where its
// ControlGroup is that cgroup: the manager names a cgroup it did not make by
// the unit above it, and one of the same name may be another manager's (a
// container's systemd).
static BOOL ReadUnit(MANAGER *lpMgr, const char *lpszCgroup, char *lpszObject, size_t cbObject,
                     uint64_t *lpullWeight, uint64_t *lpullShares)
{
    const SD_BUS *lpBus = lpMgr->lpBus;
    BUS_CALL unit = {lpBus, NULL}, group = {lpBus, NULL}, weight = {lpBus, NULL}, shares = {lpBus, NULL};
    const char *lpszFound = NULL, *lpszGroup;
    char szInterface[64];
    // ControlGroup and CPUWeight are properties of the unit's type: Scope or Service.
    snprintf(szInterface, sizeof(szInterface), SYSTEMD_NAME ".%s",
             strcmp(strrchr(lpszCgroup, '.'), ".scope") == 0 ? "Scope" : "Service");
    BOOL bFound = Bus_Send(lpMgr, &unit, SYSTEMD_PATH, SYSTEMD_NAME ".Manager", "GetUnitByControlGroup", "s",
                           lpszCgroup) &&
                  Bus_Await(lpMgr, &unit) && lpBus->lpfnRead(unit.lpReply, "o", &lpszFound) >= 0 &&
                  strlen(lpszFound) < cbObject;
    if (bFound)
        strcpy(lpszObject, lpszFound);
    bFound =
        bFound && Bus_Send(lpMgr, &group, lpszObject, PROPERTIES, "Get", "ss", szInterface, "ControlGroup") &&
        Bus_Send(lpMgr, &weight, lpszObject, PROPERTIES, "Get", "ss", szInterface, "CPUWeight") &&
        Bus_Send(lpMgr, &shares, lpszObject, PROPERTIES, "Get", "ss", szInterface, "CPUShares") &&
        Bus_Await(lpMgr, &group) && Bus_Await(lpMgr, &weight) && Bus_Await(lpMgr, &shares) &&
        lpBus->lpfnRead(group.lpReply, "v", "s", &lpszGroup) >= 0 && strcmp(lpszGroup, lpszCgroup) == 0 &&
        lpBus->lpfnRead(weight.lpReply, "v", "t", lpullWeight) >= 0;
    // A manager that no longer knows CPUShares answers with an error: none is set.
    if (bFound && lpBus->lpfnRead(shares.lpReply, "v", "t", lpullShares) < 0)
        *lpullShares = CPU_SHARES_UNSET;
    lpBus->lpfnMessageUnref(unit.lpReply);
    lpBus->lpfnMessageUnref(group.lpReply);
    lpBus->lpfnMessageUnref(weight.lpReply);
    lpBus->lpfnMessageUnref(shares.lpReply);
    return bFound;
}

void UnitWeight_Set(const PROCESS_OBJECT *lpProc, const STAT_INFO *lpInfo, const char *lpszCgroup,
                    const CLASS_SETTING *lpClass)
{
    SD_BUS bus;
    MANAGER mgr = {&bus, NULL, 0};
    if (!IsUnitOwn(lpProc, lpInfo, lpszCgroup) || !Bus_Load(&bus) || !Bus_Connect(&mgr, lpszCgroup))
        return;
    char szObject[512];
    uint64_t ullWeight, ullShares;
    BUS_CALL set = {&bus, NULL};
    // As "systemctl set-property --runtime" does; the reply is awaited, so that the manager has it whole.
    // A unit given CPUShares (deprecated, still honoured where no CPUWeight is set) has a share of
    // someone else's too: a CPUWeight would override it.
    if (ReadUnit(&mgr, lpszCgroup, szObject, sizeof(szObject), &ullWeight, &ullShares) &&
        IsUnsetOrClassWeight(ullWeight) && ullShares == CPU_SHARES_UNSET &&
        Bus_Send(&mgr, &set, szObject, SYSTEMD_NAME ".Unit", "SetProperties", "ba(sv)", 1, 1, "CPUWeight",
                 "t", lpClass->ullWeight))
        Bus_Await(&mgr, &set);
    bus.lpfnMessageUnref(set.lpReply);
    bus.lpfnCloseUnref(mgr.lpConn);
}
