// Process handles (OpenProcess) and the change of the priority class
// (SetPriorityClass).
#pragma once

#include "Handle.h"

// For CloseHandle: releases what a process handle holds.
void Process_Close(LINUX_HANDLE *lpProc);
