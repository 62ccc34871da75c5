// A scripted stand-in for the Win32 subset the tool calls: a process table the
// test writes, and what the tool did with it that a user could see. Requests
// with other flags, access or entry size than the tool's fail, as Windows'
// would for the tool.
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
    // Non-empty: from the open on, the lists show the number under this name,
    // as when the process ended ("ended") or its number went to another.
    std::string afterOpen = "";
};

struct World {
    std::vector<Process> processes;
    int snapshots = 1000; // how many snapshots succeed; the next ones fail
    bool dbcs = false;    // the ANSI code page is 932: lead bytes 0x81-0x9F and 0xE0-0xFC
    // In order: "list" (a snapshot taken), "open PID" (opened), "set PID
    // CLASS", "usage notice", "failure notice CODE", "other notice TEXT".
    std::vector<std::string> events;
    std::set<HANDLE> open; // handles not yet closed
    int badCloses = 0;     // CloseHandle on something not open
    DWORD lastError = 0;
};

extern World g;

// The notices' texts, each kept once for all tests: tests/usage.txt, and
// tests/failure.txt, the failure text's format, where %d is the code.
extern const std::string kUsage;
extern const std::string kFailure;

// The events that begin with one of the words, joined by "; ".
std::string Events(std::initializer_list<std::string> words);

} // namespace fake
