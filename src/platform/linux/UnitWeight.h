// The CPUWeight of the systemd unit that is a process's cgroup.
#pragma once

#include "Classes.h"
#include "Process.h"
#include "Proc.h"

// The weight of the class on the unit that is the process's cgroup (a path
// of cgroup v2), asked of the unit's manager, where the target holds the
// unit alone; a refusal leaves the unit as it was.
void UnitWeight_Set(const PROCESS_OBJECT *lpProc, const STAT_INFO *lpInfo, const char *lpszCgroup,
                    const CLASS_SETTING *lpClass);
