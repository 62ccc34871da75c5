// The one program-wide record of a run.
#pragma once

#include "Win32Api.h"

struct RUN_STATE {
    HANDLE hProcess;       // set once a matching process was opened; afterwards only that mark
    DWORD dwPriorityClass; // requested class; 0 means no change
    LPSTR lpWorkCopy;      // the parser's working copy of the command tail
    LPSTR lpModuleName;    // MODULE_NAME_SIZE bytes: the executable name to look for
};

// Holds the longest executable name the process list reports, plus terminator:
// 259 bytes of the code page, fewer characters where one takes two or more.
#define MODULE_NAME_SIZE MAX_PATH

extern RUN_STATE RunState;
