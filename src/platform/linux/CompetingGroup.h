// The group a process competes in for the processor.
#pragma once

#include "Classes.h"
#include "Process.h"

// For SetPriorityClass: the class on the group the handle's process competes
// in, where that holds no other process whose share it would change; an
// error only where the group's own change failed.
DWORD CompetingGroup_Set(const PROCESS_OBJECT *lpProc, const CLASS_SETTING *lpClass);
