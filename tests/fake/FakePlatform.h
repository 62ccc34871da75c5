// A scripted stand-in for the Win32 subset the tool calls: a process table the
// test writes, and a trace of every call the tool makes with its arguments.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace fake
{

struct Process {
    DWORD pid;
    std::string exe;
    bool opens = true; // false: OpenProcess fails for it
    DWORD refuse = 0;  // nonzero: SetPriorityClass fails with this code
    // Non-empty: the number went to another process before the open, which
    // lists it under this name from then on.
    std::string reusedBy = "";
};

struct World {
    std::vector<Process> processes;
    int snapshots = 1000; // how many snapshots succeed; the next ones fail
    bool dbcs = false;    // the ANSI code page is 932: lead bytes 0x81-0x9F and 0xE0-0xFC
    // "snapshot FLAGS PID", "first SIZE", "next", "open ACCESS INHERIT PID",
    // "set PID CLASS", "close", and "usage notice", "failure notice CODE" or
    // "other notice TEXT" for anything else.
    std::vector<std::string> calls;
    std::set<HANDLE> open; // handles not yet closed
    int badCloses = 0;     // CloseHandle on something not open
    DWORD lastError = 0;
};

extern World g;

// The usage notice's text, kept once for all tests in tests/usage.txt; the
// failure text ends in the code and a line feed.
extern const std::string kUsage;
inline const std::string kFailure = "SetPriorityClass function error\n\nGetLastError()=";

// The calls joined by "; ".
std::string Trace();

} // namespace fake
