// Command intake and run flow.
#pragma once

#include "Win32Api.h"

// Returns the command tail of a Windows command line: the line without the
// program's own name and the blanks and tabs around it. Null stays null.
LPSTR SkipProgramName(LPSTR lpszCmdLine);

// Splits the tail into module name and priority class (written to RunState).
// Nonzero only when the tail held exactly two tokens.
BOOL ParseCommandTail(LPCSTR lpszTail);

struct PRIORITY_KEYWORD {
    LPCSTR lpszName;
    DWORD dwClass;
};

// The keywords the parser knows, from the lowest priority up; the usage
// notice lists them and their classes the other way round.
extern const PRIORITY_KEYWORD PriorityKeywords[];
extern const size_t cPriorityKeywords;

// Shows the usage notice and returns once it is dismissed.
void ShowUsage(void);

// The program's entry: derives the tail, runs WinMain and exits with its result.
extern "C" void WINAPI TolvStartup(void);
