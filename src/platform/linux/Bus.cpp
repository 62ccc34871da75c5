// The connection to a systemd manager: a socket checked before a byte is sent,
// then sd-bus on it, with every call's reply awaited against the deadline.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "Bus.h"

// A manager that has not answered everything by then, its connection and
// authentication included, is taken as one that refused.
#define BUS_DEADLINE_US 2000000ULL

// A member of the table from the library's symbol of that name.
template <typename FN> static BOOL LoadSymbol(void *lpLib, const char *lpszName, FN *lpfn)
{
    *lpfn = reinterpret_cast<FN>(dlsym(lpLib, lpszName));
    return *lpfn != NULL;
}

BOOL Bus_Load(SD_BUS *lpBus)
{
    void *lpLib = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    return lpLib != NULL && LoadSymbol(lpLib, "sd_bus_new", &lpBus->lpfnNew) &&
           LoadSymbol(lpLib, "sd_bus_set_fd", &lpBus->lpfnSetFd) &&
           LoadSymbol(lpLib, "sd_bus_set_bus_client", &lpBus->lpfnSetBusClient) &&
           LoadSymbol(lpLib, "sd_bus_start", &lpBus->lpfnStart) &&
           LoadSymbol(lpLib, "sd_bus_message_new_method_call", &lpBus->lpfnNewMethodCall) &&
           LoadSymbol(lpLib, "sd_bus_message_appendv", &lpBus->lpfnAppendv) &&
           LoadSymbol(lpLib, "sd_bus_call_async", &lpBus->lpfnCallAsync) &&
           LoadSymbol(lpLib, "sd_bus_process", &lpBus->lpfnProcess) &&
           LoadSymbol(lpLib, "sd_bus_wait", &lpBus->lpfnWait) &&
           LoadSymbol(lpLib, "sd_bus_message_read", &lpBus->lpfnRead) &&
           LoadSymbol(lpLib, "sd_bus_message_ref", &lpBus->lpfnMessageRef) &&
           LoadSymbol(lpLib, "sd_bus_message_unref", &lpBus->lpfnMessageUnref) &&
           LoadSymbol(lpLib, "sd_bus_close_unref", &lpBus->lpfnCloseUnref);
}

static uint64_t NowUs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000ULL + (uint64_t)ts.tv_nsec / 1000ULL;
}

static int OnReply(sd_bus_message *lpReply, void *lpUser, sd_bus_error *)
{
    BUS_CALL *lpCall = (BUS_CALL *)lpUser;
    lpCall->lpReply = lpCall->lpBus->lpfnMessageRef(lpReply);
    return 0;
}

BOOL Bus_Send(MANAGER *lpMgr, BUS_CALL *lpCall, const char *lpszPath, const char *lpszInterface,
              const char *lpszMember, const char *lpszTypes, ...)
{
    const SD_BUS *lpBus = lpMgr->lpBus;
    sd_bus_message *lpMessage = NULL;
    va_list ap;
    va_start(ap, lpszTypes);
    BOOL bSent = lpBus->lpfnNewMethodCall(lpMgr->lpConn, &lpMessage, SYSTEMD_NAME, lpszPath, lpszInterface,
                                          lpszMember) >= 0 &&
                 lpBus->lpfnAppendv(lpMessage, lpszTypes, ap) >= 0 &&
                 lpBus->lpfnCallAsync(lpMgr->lpConn, NULL, lpMessage, OnReply, lpCall, 0) >= 0;
    va_end(ap);
    lpBus->lpfnMessageUnref(lpMessage);
    return bSent;
}

// sd-bus's own timeouts leave its connection and authentication 90 s.
BOOL Bus_Await(MANAGER *lpMgr, const BUS_CALL *lpCall)
{
    while (lpCall->lpReply == NULL) {
        uint64_t ullNow = NowUs();
        int nResult = ullNow < lpMgr->ullDeadline ? lpMgr->lpBus->lpfnProcess(lpMgr->lpConn, NULL) : -1;
        if (nResult == 0)
            nResult = lpMgr->lpBus->lpfnWait(lpMgr->lpConn, lpMgr->ullDeadline - ullNow);
        if (nResult < 0)
            return FALSE;
    }
    return TRUE;
}

// A socket connected to the listener at that path, where the path's last part
// is no link and the socket and its listener are that user's: a user may put
// anything in their runtime directory, such as a link to the system's socket.
static int ConnectSocket(const char *lpszPath, uid_t uid)
{
    struct stat st;
    struct ucred cred;
    socklen_t cbCred = sizeof(cred);
    struct sockaddr_un addr;
    int fdPath = open(lpszPath, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    int fd = fdPath < 0 ? -1 : socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    // Through the file opened, so that the socket reached is the one checked.
    snprintf(addr.sun_path, sizeof(addr.sun_path), "/proc/self/fd/%d", fdPath);
    if (fd >= 0 && (fstat(fdPath, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != uid ||
                    connect(fd, (struct sockaddr *)&addr, sizeof(addr)) != 0 ||
                    getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &cbCred) != 0 || cred.uid != uid)) {
        close(fd);
        fd = -1;
    }
    if (fdPath >= 0)
        close(fdPath);
    return fd;
}

BOOL Bus_Connect(MANAGER *lpMgr, const char *lpszCgroup)
{
    const SD_BUS *lpBus = lpMgr->lpBus;
    const char *lpszUser = strstr(lpszCgroup, "/user@");
    char szPath[64];
    uid_t uid = 0; // the system's manager and bus listen as root
    if (lpszUser != NULL) {
        uid = (uid_t)strtoul(lpszUser + 6, NULL, 10);
        if (geteuid() != 0 && geteuid() != uid)
            return FALSE;
        snprintf(szPath, sizeof(szPath), "/run/user/%lu/systemd/private", (unsigned long)uid);
    } else {
        strcpy(szPath, geteuid() == 0 ? "/run/systemd/private" : "/run/dbus/system_bus_socket");
    }
    lpMgr->ullDeadline = NowUs() + BUS_DEADLINE_US;
    lpMgr->lpConn = NULL;
    int fd = ConnectSocket(szPath, uid);
    if (fd < 0 || lpBus->lpfnNew(&lpMgr->lpConn) < 0 || lpBus->lpfnSetFd(lpMgr->lpConn, fd, fd) < 0) {
        if (fd >= 0)
            close(fd);
        lpBus->lpfnCloseUnref(lpMgr->lpConn);
        return FALSE;
    }
    // From here the connection holds the socket.
    if (lpBus->lpfnSetBusClient(lpMgr->lpConn, lpszUser == NULL && geteuid() != 0) < 0 ||
        lpBus->lpfnStart(lpMgr->lpConn) < 0) {
        lpBus->lpfnCloseUnref(lpMgr->lpConn);
        return FALSE;
    }
    return TRUE;
}
