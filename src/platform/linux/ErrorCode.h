// The Win32 codes that errno values become, and what an errno value read
// from /proc means; the codes a user can meet are listed in tolv(1),
// DIAGNOSTICS.
#pragma once

#include "Win32Api.h"

// The Win32 code closest to an errno value.
DWORD ErrorCode_FromErrno(int nErrno);
// The same for a file under /proc/PID, where "not found" means the process ended.
DWORD ErrorCode_FromProcErrno(int nErrno);
// Whether an errno value read from /proc/PID means that the process is gone.
BOOL ErrorCode_IsGone(int nErrno);
// Whether an errno value is the walk's own (no file or memory left), which
// ends it; any other error reading one process's files belongs to that entry.
BOOL ErrorCode_IsWalkError(int nErrno);
