// The verdicts on processes that the group rule remembers, by process ID.
#pragma once

#include <sys/types.h>

#include "Win32Api.h"

// What Verdicts_Find gives for a process with no verdict.
#define NO_VERDICT (-2)

struct VERDICT {
    pid_t pid; // 0 in an empty slot
    int nVerdict;
};

// An open-addressing hash table, which doubles whenever it is three quarters full.
struct VERDICTS {
    VERDICT *lpSlots; // null without memory: then nothing is remembered
    int cSlots;       // a power of two
    int cVerdicts;
};

void Verdicts_Init(VERDICTS *lpTable);
// The verdict on the process, or NO_VERDICT.
int Verdicts_Find(const VERDICTS *lpTable, pid_t pid);
// Remembers a verdict (not NO_VERDICT), where there is memory for it.
void Verdicts_Put(VERDICTS *lpTable, pid_t pid, int nVerdict);
void Verdicts_Free(VERDICTS *lpTable);
