// The systemd unit whose cgroup is a cpu group of its own (cgroup v2): a
// thread's nice weighs only within it, so the class also sets the unit's
// CPUWeight, at run time, through the unit's manager, as
// "systemctl set-property --runtime" does. systemd alone writes the cgroups it
// made; this tool only reads them. libsystemd is loaded when needed, so that
// the tool runs where systemd is absent; there the unit is left alone.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "GroupRule.h"

// Nested cgroups below the unit's are looked into this deep at the most.
#define MAX_CGROUP_DEPTH 16
// A manager that does not answer in time is taken as one that refused.
#define CALL_TIMEOUT_US 2000000ULL

// CPUWeight's values over D-Bus: "idle", and the unset one that restores the default.
#define CPU_WEIGHT_IDLE 0ULL
#define CPU_WEIGHT_DEFAULT UINT64_MAX

struct sd_bus;
struct sd_bus_message;
struct SD_BUS {
    int (*lpfnNew)(sd_bus **);
    int (*lpfnSetAddress)(sd_bus *, const char *);
    int (*lpfnStart)(sd_bus *);
    int (*lpfnOpenSystem)(sd_bus **);
    int (*lpfnSetTimeout)(sd_bus *, uint64_t);
    int (*lpfnCallMethod)(sd_bus *, const char *, const char *, const char *, const char *, void *,
                          sd_bus_message **, const char *, ...);
    int (*lpfnRead)(sd_bus_message *, const char *, ...);
    sd_bus_message *(*lpfnMessageUnref)(sd_bus_message *);
    sd_bus *(*lpfnCloseUnref)(sd_bus *);
};

static BOOL LoadSdBus(SD_BUS *lpBus)
{
    void *lpLib = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lpLib == NULL)
        return FALSE;
    const char *aNames[] = {"sd_bus_new",
                            "sd_bus_set_address",
                            "sd_bus_start",
                            "sd_bus_open_system",
                            "sd_bus_set_method_call_timeout",
                            "sd_bus_call_method",
                            "sd_bus_message_read",
                            "sd_bus_message_unref",
                            "sd_bus_flush_close_unref"};
    void **lpSlots = (void **)lpBus; // the members, in the order of the names
    for (size_t i = 0; i < sizeof(aNames) / sizeof(aNames[0]); i++)
        if ((lpSlots[i] = dlsym(lpLib, aNames[i])) == NULL)
            return FALSE;
    return TRUE;
}

// The weight the kernel gives a thread of that nice, on cgroup v2's scale
// (1024 there is 100 here): what the unit as a whole gets for the class.
static uint64_t WeightForNice(int nNice, BOOL bIdle)
{
    if (bIdle)
        return CPU_WEIGHT_IDLE;
    switch (nNice) {
    case 10:
        return 11; // 110 * 100 / 1024
    case -6:
        return 381; // 3906
    case -11:
        return 1164; // 11916
    case -19:
        return 7007; // 71755
    default:
        return CPU_WEIGHT_DEFAULT;
    }
}

// Whether a cgroup's cgroup.procs, or that of one below it, lists a process
// that is not the target's own; a 0 there is one of another PID namespace.
static BOOL HasForeignProcess(GROUP_RULE *lpRule, int fdCgroup, int nDepth)
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
            bForeign = pid <= 0 || (!IsAllowed(lpRule, pid) && IsForeign(lpRule, pid));
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
            fdChild < 0 || nDepth >= MAX_CGROUP_DEPTH || HasForeignProcess(lpRule, fdChild, nDepth + 1);
        if (fdChild >= 0)
            close(fdChild);
    }
    closedir(lpDir);
    return bForeign;
}

// Every process of the cgroup's tree is the target's own, also those started
// while it was read.
static BOOL IsUnitOwn(GROUP_RULE *lpRule, const char *lpszCgroup)
{
    char szPath[1100];
    snprintf(szPath, sizeof(szPath), "/sys/fs/cgroup%s", lpszCgroup);
    int fdCgroup = open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdCgroup < 0)
        return FALSE;
    BOOL bOwn = FALSE;
    pid_t pidFrom = LastPid();
    for (int i = 0; i < SCAN_TRIES && !bOwn && pidFrom >= 0; i++) {
        if (HasForeignProcess(lpRule, fdCgroup, 0))
            break;
        pid_t pidTo = LastPid();
        bOwn = pidTo == pidFrom;
        pidFrom = pidTo;
    }
    close(fdCgroup);
    return bOwn;
}

// A connection to the unit's manager: the user's own manager for a unit
// below user@UID.service, else the system's; each through its private socket
// where that accepts this caller (root, or the manager's own user), else the
// system bus, where polkit decides. NULL where none can be had.
static sd_bus *ConnectManager(const SD_BUS *lpBus, const char *lpszCgroup)
{
    const char *lpszUser = strstr(lpszCgroup, "/user@");
    char szAddress[96];
    sd_bus *lpConn = NULL;
    if (lpszUser != NULL) {
        unsigned long ulUid = strtoul(lpszUser + 6, NULL, 10);
        if (geteuid() != 0 && geteuid() != (uid_t)ulUid)
            return NULL;
        snprintf(szAddress, sizeof(szAddress), "unix:path=/run/user/%lu/systemd/private", ulUid);
    } else if (geteuid() == 0) {
        strcpy(szAddress, "unix:path=/run/systemd/private");
    } else if (lpBus->lpfnOpenSystem(&lpConn) < 0) {
        return NULL;
    }
    if (lpConn == NULL && (lpBus->lpfnNew(&lpConn) < 0 || lpBus->lpfnSetAddress(lpConn, szAddress) < 0 ||
                           lpBus->lpfnStart(lpConn) < 0)) {
        lpBus->lpfnCloseUnref(lpConn);
        return NULL;
    }
    lpBus->lpfnSetTimeout(lpConn, CALL_TIMEOUT_US);
    return lpConn;
}

#define SYSTEMD_NAME "org.freedesktop.systemd1"
#define SYSTEMD_PATH "/org/freedesktop/systemd1"

// Whether the manager's unit of that name is the cgroup that was read: a
// cgroup of the same name may be another manager's (a container's systemd).
static BOOL IsManagersUnit(const SD_BUS *lpBus, sd_bus *lpConn, const char *lpszUnit, const char *lpszCgroup)
{
    sd_bus_message *lpReply = NULL;
    const char *lpszObject, *lpszType, *lpszGroup;
    char szObject[512], szInterface[64];
    BOOL bSame = FALSE;
    if (lpBus->lpfnCallMethod(lpConn, SYSTEMD_NAME, SYSTEMD_PATH, SYSTEMD_NAME ".Manager", "GetUnit", NULL,
                              &lpReply, "s", lpszUnit) < 0 ||
        lpBus->lpfnRead(lpReply, "o", &lpszObject) < 0 || strlen(lpszObject) >= sizeof(szObject)) {
        lpBus->lpfnMessageUnref(lpReply);
        return FALSE;
    }
    strcpy(szObject, lpszObject);
    lpReply = lpBus->lpfnMessageUnref(lpReply);
    // ControlGroup is a property of the unit's type: Scope or Service.
    lpszType = strcmp(strrchr(lpszUnit, '.'), ".scope") == 0 ? "Scope" : "Service";
    snprintf(szInterface, sizeof(szInterface), SYSTEMD_NAME ".%s", lpszType);
    if (lpBus->lpfnCallMethod(lpConn, SYSTEMD_NAME, szObject, "org.freedesktop.DBus.Properties", "Get", NULL,
                              &lpReply, "ss", szInterface, "ControlGroup") >= 0 &&
        lpBus->lpfnRead(lpReply, "v", "s", &lpszGroup) >= 0)
        bSame = strcmp(lpszGroup, lpszCgroup) == 0;
    lpBus->lpfnMessageUnref(lpReply);
    return bSame;
}

void SetUnitWeight(const LINUX_HANDLE *lpProc, const STAT_INFO *lpInfo, const char *lpszCgroup, int nNice,
                   BOOL bIdle)
{
    static GROUP_RULE rule; // too large for the stack
    SD_BUS bus;
    const char *lpszUnit = strrchr(lpszCgroup, '/') + 1;
    if (!InitGroupRule(&rule, lpProc->pid, lpInfo->dwSession, lpszCgroup) || !IsUnitOwn(&rule, lpszCgroup) ||
        !LoadSdBus(&bus))
        return;
    sd_bus *lpConn = ConnectManager(&bus, lpszCgroup);
    if (lpConn == NULL)
        return;
    if (IsManagersUnit(&bus, lpConn, lpszUnit, lpszCgroup))
        bus.lpfnCallMethod(lpConn, SYSTEMD_NAME, SYSTEMD_PATH, SYSTEMD_NAME ".Manager", "SetUnitProperties",
                           NULL, NULL, "sba(sv)", lpszUnit, 1, 1, "CPUWeight", "t",
                           WeightForNice(nNice, bIdle));
    bus.lpfnCloseUnref(lpConn);
}
