// The command line made from the argument vector (GetCommandLineA), and the
// code page it is read in (IsDBCSLeadByte).
#include <stdlib.h>
#include <string.h>

#include "Arguments.h"
#include "Win32Api.h"

static int nArgs;
static char **lpArgs;
static LPSTR lpszCommandLine;

void Arguments_Set(int argc, char **argv)
{
    nArgs = argc;
    lpArgs = argv;
}

// Blanks and tabs separate tokens on a Windows command line; an argument that
// holds one, or none at all, must be quoted to arrive as one token. One that
// holds a double quote already carries the quoting its user wrote, as in
// tolv '"My App.exe"' HIGH: quoting it again would split it at the blank.
static BOOL NeedsQuotes(const char *lpszArg)
{
    return lpszArg[0] == '\0' || (strpbrk(lpszArg, " \t") != NULL && strchr(lpszArg, '"') == NULL);
}

// The program's name is always quoted, and read back up to the next double
// quote with no way to escape one: its double quotes are left out, which
// changes nothing the tool uses, so that it always reads back as one name.
static void CopyArg(char **lpp, const char *lpszArg, BOOL bProgram)
{
    BOOL bQuote = bProgram || NeedsQuotes(lpszArg);
    char *p = *lpp;
    if (bQuote)
        *p++ = '"';
    for (const char *s = lpszArg; *s != '\0'; s++) {
        if (!bProgram || *s != '"')
            *p++ = *s;
    }
    if (bQuote)
        *p++ = '"';
    *lpp = p;
}

// The Windows command line for an argument vector: the arguments joined by
// blanks, those that would not arrive as one token enclosed in double quotes.
// Allocated with malloc; null when memory runs out.
static LPSTR BuildCommandLine(int argc, char **argv)
{
    size_t cb = 1;
    for (int i = 0; i < argc; i++)
        cb += strlen(argv[i]) + 3; // a blank before it and two quotes
    LPSTR lpsz = (LPSTR)malloc(cb);
    if (lpsz == NULL)
        return NULL;

    char *p = lpsz;
    for (int i = 0; i < argc; i++) {
        if (i > 0)
            *p++ = ' ';
        CopyArg(&p, argv[i], i == 0);
    }
    *p = '\0';
    return lpsz;
}

// Linux hands over an argument vector, not one line: rebuild the line the
// tool expects, once, as Windows keeps one.
LPSTR WINAPI GetCommandLineA(void)
{
    if (lpszCommandLine == NULL)
        lpszCommandLine = BuildCommandLine(nArgs, lpArgs);
    return lpszCommandLine;
}

// Names and arguments are UTF-8 (or plain bytes) here: every byte below 0x80
// is a character of its own, so no byte starts a double-byte character.
BOOL WINAPI IsDBCSLeadByte(BYTE TestChar)
{
    (void)TestChar;
    return FALSE;
}

void Arguments_Free(void)
{
    free(lpszCommandLine);
    lpszCommandLine = NULL;
}
