// Which group a process competes in for the processor, so that a class
// changes that group too where the target holds it alone: its systemd unit
// where the unit is a cpu cgroup of its own (UnitWeight.cpp), else the
// session's autogroup where the process sits in the root cpu group and
// autogroups are on (SessionGroup.cpp). Anywhere else, and wherever this tool
// cannot see the whole group, only the threads change.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CompetingGroup.h"
#include "Proc.h"
#include "SessionGroup.h"
#include "UnitWeight.h"

// The kernel's fixed inode numbers of the initial namespaces.
#define INIT_USER_NS_INO 0xEFFFFFFDu
#define INIT_CGROUP_NS_INO 0xEFFFFFFBu

enum CPU_GROUP { CPU_GROUP_NONE, CPU_GROUP_ROOT, CPU_GROUP_UNIT };

static BOOL IsInitNamespace(const char *lpszPath, unsigned uIno)
{
    struct stat st;
    return stat(lpszPath, &st) == 0 && st.st_ino == uIno;
}

// Whether /proc hides processes from this tool (hidepid): one it cannot see
// may be in the group. Root of the initial user namespace sees them all.
static BOOL ProcHidesProcesses(void)
{
    if (geteuid() == 0 && IsInitNamespace("/proc/self/ns/user", INIT_USER_NS_INO))
        return FALSE;
    FILE *lpMounts = fopen("/proc/self/mountinfo", "re");
    if (lpMounts == NULL)
        return TRUE;
    // The last mount on /proc is the one in use; its options follow " - proc ".
    BOOL bHides = TRUE;
    char *lpszLine = NULL;
    size_t cbLine = 0;
    char szMountPoint[16];
    while (getline(&lpszLine, &cbLine, lpMounts) > 0) {
        const char *lpszOptions = strstr(lpszLine, " - proc ");
        if (lpszOptions == NULL || sscanf(lpszLine, "%*s %*s %*s %*s %15s", szMountPoint) != 1 ||
            strcmp(szMountPoint, "/proc") != 0)
            continue;
        const char *lpszHide = strstr(lpszOptions, "hidepid=");
        bHides =
            lpszHide != NULL && strncmp(lpszHide + 8, "0", 1) != 0 && strncmp(lpszHide + 8, "off", 3) != 0;
    }
    free(lpszLine);
    fclose(lpMounts);
    return bHides;
}

// Whether the root's children of cgroup v2 get the cpu controller: 1 or 0,
// or -1 where this mount namespace shows no cgroup file system (a chroot, a
// container's own /sys).
static int RootPassesCpu(void)
{
    char szControllers[256];
    if (Proc_ReadFile(AT_FDCWD, "/sys/fs/cgroup/cgroup.subtree_control", szControllers,
                      sizeof(szControllers)) < 0)
        return -1;
    return strstr(szControllers, "cpu ") != NULL || strstr(szControllers, "cpu\n") != NULL;
}

// The cpu group of the process, from its cgroup file: the root one (cgroup
// v1's cpu hierarchy at "/", or v2 with the process at the root or a root
// that keeps the cpu controller), a unit's cgroup of cgroup v2 with a weight
// of its own (its path in lpszCgroup), or another one.
static CPU_GROUP ReadCpuGroup(int fdProcDir, char *lpszCgroup, size_t cbCgroup)
{
    char szBuf[4096];
    if (Proc_ReadFile(fdProcDir, "cgroup", szBuf, sizeof(szBuf)) <= 0)
        return CPU_GROUP_NONE;
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
                return strcmp(lpszPath, "/") == 0 ? CPU_GROUP_ROOT : CPU_GROUP_NONE;
    }
    if (lpszUnified == NULL || strcmp(lpszUnified, "/") == 0)
        return CPU_GROUP_ROOT;
    int nPasses = RootPassesCpu();
    if (nPasses <= 0)
        return nPasses == 0 ? CPU_GROUP_ROOT : CPU_GROUP_NONE; // a group unseen is left alone
    // A weight of its own: its parent passes the cpu controller down.
    const char *lpszLeaf = strrchr(lpszUnified, '/');
    size_t cchLeaf = strlen(lpszLeaf);
    char szWeight[4096 + 32];
    strcpy(szWeight, "/sys/fs/cgroup");
    strcat(strcat(szWeight, lpszUnified), "/cpu.weight");
    BOOL bUnit = (cchLeaf > 6 && strcmp(lpszLeaf + cchLeaf - 6, ".scope") == 0) ||
                 (cchLeaf > 8 && strcmp(lpszLeaf + cchLeaf - 8, ".service") == 0);
    if (!bUnit || strlen(lpszUnified) >= cbCgroup || access(szWeight, F_OK) != 0)
        return CPU_GROUP_NONE;
    strcpy(lpszCgroup, lpszUnified);
    return CPU_GROUP_UNIT;
}

static BOOL AutogroupsOn(void)
{
    char szBuf[8];
    return Proc_ReadFile(AT_FDCWD, "/proc/sys/kernel/sched_autogroup_enabled", szBuf, sizeof(szBuf)) > 0 &&
           szBuf[0] == '1';
}

DWORD CompetingGroup_Set(const PROCESS_OBJECT *lpProc, const CLASS_SETTING *lpClass)
{
    STAT_INFO info;
    char szCgroup[1024];
    // A cgroup namespace shows a cgroup other than the root as "/"; a session
    // of number 0 began outside this PID namespace, whose processes are unseen.
    if (!IsInitNamespace("/proc/self/ns/cgroup", INIT_CGROUP_NS_INO) || ProcHidesProcesses() ||
        !Proc_ReadStat(lpProc->fdProcDir, "stat", &info) || info.dwSession == 0)
        return ERROR_SUCCESS;
    switch (ReadCpuGroup(lpProc->fdProcDir, szCgroup, sizeof(szCgroup))) {
    case CPU_GROUP_ROOT:
        return AutogroupsOn() ? SessionGroup_Set(lpProc, &info, lpClass->nNice) : ERROR_SUCCESS;
    case CPU_GROUP_UNIT:
        UnitWeight_Set(lpProc, &info, szCgroup, lpClass);
        return ERROR_SUCCESS; // a manager that refuses leaves the unit as it was
    default:
        return ERROR_SUCCESS;
    }
}
