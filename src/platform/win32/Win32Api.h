// On Windows the tool calls the real API.
#pragma once

#include <windows.h>
#include <tlhelp32.h>
