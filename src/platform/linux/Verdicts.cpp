// The group rule's memory of verdicts: a family of thousands is judged in a
// walk up from each member, which stops at the first one judged before.
#include <stdlib.h>

#include "Verdicts.h"

// Verdicts remembered at first.
#define FIRST_SLOTS 4096

void Verdicts_Init(VERDICTS *lpTable)
{
    lpTable->cSlots = FIRST_SLOTS;
    lpTable->cVerdicts = 0;
    lpTable->lpSlots = (VERDICT *)calloc(FIRST_SLOTS, sizeof(VERDICT));
}

// The slot of a process's verdict, or the empty slot where it would go.
static VERDICT *FindSlot(VERDICT *lpSlots, int cSlots, pid_t pid)
{
    int i = (int)((unsigned)pid * 2654435761u & (unsigned)(cSlots - 1));
    while (lpSlots[i].pid != 0 && lpSlots[i].pid != pid)
        i = (i + 1) & (cSlots - 1);
    return &lpSlots[i];
}

int Verdicts_Find(const VERDICTS *lpTable, pid_t pid)
{
    // 0 marks an empty slot.
    if (lpTable->lpSlots == NULL || pid <= 0)
        return NO_VERDICT;
    const VERDICT *lpSlot = FindSlot(lpTable->lpSlots, lpTable->cSlots, pid);
    return lpSlot->pid == pid ? lpSlot->nVerdict : NO_VERDICT;
}

// Twice the slots, so that a table at most three quarters full stays quick to probe.
static BOOL Grow(VERDICTS *lpTable)
{
    int cSlots = lpTable->cSlots * 2;
    VERDICT *lpGrown = (VERDICT *)calloc((size_t)cSlots, sizeof(VERDICT));
    if (lpGrown == NULL)
        return FALSE;
    for (int i = 0; i < lpTable->cSlots; i++)
        if (lpTable->lpSlots[i].pid != 0)
            *FindSlot(lpGrown, cSlots, lpTable->lpSlots[i].pid) = lpTable->lpSlots[i];
    free(lpTable->lpSlots);
    lpTable->lpSlots = lpGrown;
    lpTable->cSlots = cSlots;
    return TRUE;
}

void Verdicts_Put(VERDICTS *lpTable, pid_t pid, int nVerdict)
{
    if (lpTable->lpSlots == NULL || pid <= 0 ||
        (lpTable->cVerdicts >= lpTable->cSlots / 4 * 3 && !Grow(lpTable)))
        return;
    VERDICT *lpSlot = FindSlot(lpTable->lpSlots, lpTable->cSlots, pid);
    if (lpSlot->pid == 0)
        lpTable->cVerdicts++;
    lpSlot->pid = pid;
    lpSlot->nVerdict = nVerdict;
}

void Verdicts_Free(VERDICTS *lpTable)
{
    free(lpTable->lpSlots);
    lpTable->lpSlots = NULL;
}
