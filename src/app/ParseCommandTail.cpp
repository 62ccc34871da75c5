// Command-tail parser: "Module File" PRIORITY.
#include <stdlib.h>
#include <string.h>

#include "App.h"
#include "RunState.h"

// Compared case-sensitively against the whole token. HIGHEST is a second
// name for the HIGH class, not a class of its own.
// clang-format off
const PRIORITY_KEYWORD PriorityKeywords[] = {
    {"IDLE",         IDLE_PRIORITY_CLASS},
    {"BELOW_NORMAL", BELOW_NORMAL_PRIORITY_CLASS},
    {"NORMAL",       NORMAL_PRIORITY_CLASS},
    {"ABOVE_NORMAL", ABOVE_NORMAL_PRIORITY_CLASS},
    {"HIGH",         HIGH_PRIORITY_CLASS},
    {"HIGHEST",      HIGH_PRIORITY_CLASS},
    {"REALTIME",     REALTIME_PRIORITY_CLASS},
};
// clang-format on
const size_t cPriorityKeywords = sizeof(PriorityKeywords) / sizeof(PriorityKeywords[0]);

static int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// Reads a number as strtoul does with base 0, but always in 32 bits: where
// unsigned long has 64 bits, strtoul would let 4294967296 wrap to class 0.
static DWORD ParseNumber(LPCSTR lpsz)
{
    const DWORD dwMax = 0xFFFFFFFFu;

    while (*lpsz == ' ' || (*lpsz >= '\t' && *lpsz <= '\r'))
        lpsz++;
    BOOL bNegative = FALSE;
    if (*lpsz == '+' || *lpsz == '-') {
        bNegative = *lpsz == '-';
        lpsz++;
    }
    DWORD dwBase = 10;
    if (lpsz[0] == '0') {
        // "0x" counts as a prefix only when a hexadecimal digit follows;
        // otherwise the 0 alone is the number.
        if ((lpsz[1] == 'x' || lpsz[1] == 'X') && DigitValue(lpsz[2]) < 16) {
            dwBase = 16;
            lpsz += 2;
        } else {
            dwBase = 8;
        }
    }

    DWORD dwValue = 0;
    BOOL bOverflow = FALSE;
    for (int nDigit; (nDigit = DigitValue(*lpsz)) < (int)dwBase; lpsz++) {
        if (dwValue > (dwMax - (DWORD)nDigit) / dwBase)
            bOverflow = TRUE;
        else
            dwValue = dwValue * dwBase + (DWORD)nDigit;
    }
    if (bOverflow)
        return dwMax;
    return bNegative ? 0u - dwValue : dwValue;
}

static DWORD PriorityFromToken(LPCSTR lpszToken)
{
    for (size_t i = 0; i < cPriorityKeywords; i++) {
        if (strcmp(lpszToken, PriorityKeywords[i].lpszName) == 0)
            return PriorityKeywords[i].dwClass;
    }
    return ParseNumber(lpszToken);
}

BOOL ParseCommandTail(LPCSTR lpszTail)
{
    size_t cchTail = strlen(lpszTail);
    RunState.lpWorkCopy = (LPSTR)malloc(cchTail + 1);
    if (RunState.lpWorkCopy == NULL)
        return FALSE;
    strcpy(RunState.lpWorkCopy, lpszTail);

    // Quotes and the blanks outside them become tabs, so that the tab is the
    // only separator left. There is no escape character.
    BOOL bInQuote = FALSE;
    for (size_t i = 0; i < cchTail; i++) {
        char *pch = &RunState.lpWorkCopy[i];
        if (*pch == '"') {
            bInQuote = !bInQuote;
            *pch = '\t';
        } else if (*pch == ' ' && !bInQuote) {
            *pch = '\t';
        }
    }

    int nTokens = 0;
    BOOL bNameTooLong = FALSE;
    for (LPSTR lpszToken = strtok(RunState.lpWorkCopy, "\t"); lpszToken != NULL;
         lpszToken = strtok(NULL, "\t")) {
        if (nTokens == 0) {
            RunState.lpModuleName[0] = '\0';
            // A longer name fits no buffer and names no process: reject the
            // whole command rather than look for a cut-off name.
            if (strlen(lpszToken) >= MODULE_NAME_SIZE) {
                bNameTooLong = TRUE;
                break;
            }
            if (strcmp(lpszToken, "NULL") != 0)
                strcat(RunState.lpModuleName, lpszToken);
        } else if (nTokens == 1) {
            RunState.dwPriorityClass = PriorityFromToken(lpszToken);
        }
        nTokens++;
    }

    free(RunState.lpWorkCopy);
    RunState.lpWorkCopy = NULL;
    return !bNameTooLong && nTokens == 2;
}
