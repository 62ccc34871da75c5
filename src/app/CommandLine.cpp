// The command tail: what follows the program's own name on the command line.
#include "App.h"

static BOOL IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

LPSTR SkipProgramName(LPSTR lpszCmdLine)
{
    if (lpszCmdLine == NULL)
        return NULL;

    LPSTR p = lpszCmdLine;
    while (IsBlank(*p))
        p++;
    if (*p == '"') {
        // A quoted name runs to the closing quote, or to the end when there
        // is none; the tail may begin right after the quote.
        p++;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p != '\0' && !IsBlank(*p))
            p++;
    }
    while (IsBlank(*p))
        p++;
    return p;
}
