// The connection to the systemd manager of a unit whose weight the class
// sets: libsystemd's sd-bus, loaded when needed, run against one deadline.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "Win32Api.h"

#define SYSTEMD_NAME "org.freedesktop.systemd1"
#define SYSTEMD_PATH "/org/freedesktop/systemd1"

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;
struct sd_bus_error;
typedef int (*REPLY_HANDLER)(sd_bus_message *, void *, sd_bus_error *);
// The functions of libsystemd that are called, under their own types.
struct SD_BUS {
    int (*lpfnNew)(sd_bus **);
    int (*lpfnSetFd)(sd_bus *, int, int);
    int (*lpfnSetBusClient)(sd_bus *, int);
    int (*lpfnStart)(sd_bus *);
    int (*lpfnNewMethodCall)(sd_bus *, sd_bus_message **, const char *, const char *, const char *,
                             const char *);
    int (*lpfnAppendv)(sd_bus_message *, const char *, va_list);
    int (*lpfnCallAsync)(sd_bus *, sd_bus_slot **, sd_bus_message *, REPLY_HANDLER, void *, uint64_t);
    int (*lpfnProcess)(sd_bus *, sd_bus_message **);
    int (*lpfnWait)(sd_bus *, uint64_t);
    int (*lpfnRead)(sd_bus_message *, const char *, ...);
    sd_bus_message *(*lpfnMessageRef)(sd_bus_message *);
    sd_bus_message *(*lpfnMessageUnref)(sd_bus_message *);
    sd_bus *(*lpfnCloseUnref)(sd_bus *);
};

// A connection to one manager, and the time by which it must have answered.
struct MANAGER {
    const SD_BUS *lpBus;
    sd_bus *lpConn;
    uint64_t ullDeadline;
};

// A method call sent, and its reply once it came (an error's too).
struct BUS_CALL {
    const SD_BUS *lpBus;
    sd_bus_message *lpReply;
};

// Fills the table from libsystemd; FALSE where it is absent.
BOOL Bus_Load(SD_BUS *lpBus);
// Connects lpMgr->lpBus to the manager of the unit of that cgroup: the
// user's own for a unit below user@UID.service, else the system's; each
// through its private socket where that accepts this caller (root, or the
// manager's own user), else the system bus, where polkit decides. The
// deadline runs from here. FALSE where none can be had.
BOOL Bus_Connect(MANAGER *lpMgr, const char *lpszCgroup);
// Sends a method call of the manager's without waiting, so that calls that
// need no answer of each other share one round trip.
BOOL Bus_Send(MANAGER *lpMgr, BUS_CALL *lpCall, const char *lpszPath, const char *lpszInterface,
              const char *lpszMember, const char *lpszTypes, ...);
// Runs the connection until the call has its reply; FALSE where the deadline
// or a failed connection comes first.
BOOL Bus_Await(MANAGER *lpMgr, const BUS_CALL *lpCall);
