// A scripted stand-in for the Win32 subset the tool calls: a process table
// the test writes, and a record of every call the tool makes.
#pragma once

#include <string>
#include <vector>

#include "Win32Api.h"

namespace fake
{

struct Process {
    DWORD pid = 0;
    std::string exeFile;
    bool opens = true;     // false: OpenProcess fails for it
    DWORD refuseError = 0; // nonzero: SetPriorityClass fails with this code
    DWORD priorityClass = NORMAL_PRIORITY_CLASS;
};

struct Notice {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
};

struct World {
    std::vector<Process> processes;
    bool snapshotFails = false;

    // In call order: "snapshot", "first", "next", "open <pid>", "set <pid> <class>",
    // "close", "notice".
    std::vector<std::string> calls;
    std::vector<Notice> notices;

    DWORD snapshotFlags = 0;
    DWORD snapshotPid = 0xFFFFFFFF;
    DWORD openAccess = 0;
    BOOL openInherit = -1;
    DWORD firstEntrySize = 0; // dwSize as Process32First saw it
    int liveHandles = 0;      // opened and not yet closed
    int badCloses = 0;        // CloseHandle on something that was not open
    DWORD lastError = 0;
};

World &Get();

// A fresh world: no processes, no calls, no handles.
void Reset();

// Index of the first call that starts with prefix, or -1.
int FindCall(const std::string &prefix);

} // namespace fake
