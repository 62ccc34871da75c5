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
