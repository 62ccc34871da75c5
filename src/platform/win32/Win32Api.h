// On Windows the tool calls the real API.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

// Windows may enter the program with the stack aligned to 4 bytes only, where
// gcc's code for i686 assumes 16. MSVC assumes 4 and needs nothing.
#if defined(__GNUC__)
#define ENTRY_STACK_ALIGN __attribute__((force_align_arg_pointer))
#else
#define ENTRY_STACK_ALIGN
#endif

// The ANSI calls convert the system's UTF-16 with best fit: a process named
// ｑ2.exe is listed as q2.exe, 文.exe as ?.exe, and Ωmega.exe on the command
// line arrives as Omega.exe, so a name would match a process it does not
// name. These give the same ANSI strings only where they are exact
// (ExactAnsi.cpp); the tool calls them under the usual names, as windows.h
// itself maps the A and W names.
LPSTR WINAPI GetExactCommandLineA(void);
BOOL WINAPI Process32FirstExact(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL WINAPI Process32NextExact(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
#define GetCommandLineA GetExactCommandLineA
#define Process32First Process32FirstExact
#define Process32Next Process32NextExact
