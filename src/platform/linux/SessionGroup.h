// The session's autogroup.
#pragma once

#include "Process.h"
#include "Proc.h"

// The nice of the process's session autogroup, where the target holds the
// session alone.
DWORD SessionGroup_Set(const PROCESS_OBJECT *lpProc, const STAT_INFO *lpInfo, int nNice);
