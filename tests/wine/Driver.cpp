// "tolvdrv TOOL LOG USAGE [cjk]" runs tolv.exe in Wine with the raw command lines below against targets
// (copies of this program, which without arguments sleeps) under unique names; compares what a user sees with
// the table. LOG is Wine's +cursor trace, which tells the standard icon each box loaded; USAGE holds the
// usage text. "cjk": the look-alike case of the double-byte code page that the locale gives (932, 936 or
// 949).
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstring>
#include <string>

#define REFUSED "SetPriorityClass function error\n\nGetLastError()=87\n" // an unknown class, as on Windows
#define BOX(text, icon, classes) "[Tolvenar|" text "|" icon "|" classes "]"

#define USAGE_BOX BOX("the usage text", "information", " 32")

struct Case {
    UINT uCodePage; // 0: the table for code page 1252; else the look-alike case of that code page
    const char *pszRule;
    const wchar_t *pszCmd;  // the tool's path, then the name typed; ASCII letters are made capitals
    const wchar_t *pszName; // the name typed and the targets' names, a stem each, made unique as STEM_TAG.exe
    const wchar_t *pszTargets[2];
    const char *pszSeen; // the boxes with the classes while each is up, then the classes after
};
// clang-format off
static const Case Cases[] = {
    {0, "no tail: the usage notice", L"\"%ls\"", L"Tgt", {L"Tgt"}, USAGE_BOX " 32"},
    {0, "a keyword", L"\"%ls\" %ls IDLE", L"Tgt", {L"Tgt"}, " 64"},
    {0, "a number", L"\"%ls\" %ls 0x4000", L"Tgt", {L"Tgt"}, " 16384"},
    {0, "only the first of two", L"\"%ls\" %ls IDLE", L"Tgt", {L"Tgt", L"Tgt"}, " 64 32"},
    {0, "no process of the name: nothing shown", L"\"%ls\" %ls IDLE", L"Tgt", {}, ""},
    {0, "three tokens: usage, then the change", L"\"%ls\" %ls IDLE extra", L"Tgt", {L"Tgt"}, USAGE_BOX " 64"},
    {0, "a refusal", L"\"%ls\" %ls 12345", L"Tgt", {L"Tgt"}, BOX(REFUSED, "error", " 32") " 32"},
    {0, "the tail right after a quoted program", L"\"%ls\"%ls BELOW_NORMAL", L"Tgt", {L"Tgt"}, " 16384"},
    {0, "an unclosed program name runs to the end", L"\"tolv.exe%.0ls %ls IDLE", L"Tgt", {L"Tgt"}, USAGE_BOX " 32"},
    {0, "a name beyond ASCII that the code page holds", L"\"%ls\" %ls IDLE", L"café", {L"café"}, " 64"},
    {0, "best fit: q2 is not the listed ｑ2", L"\"%ls\" %ls IDLE", L"q2", {L"ｑ2"}, " 32"},
    {0, "best fit: ? is not the listed 文", L"\"%ls\" %ls IDLE", L"?", {L"文"}, " 32"},
    {0, "best fit: Ωmega typed is not Omega", L"\"%ls\" %ls IDLE", L"Ωmega", {L"Omega"}, " 32"},
    {0, "best fit: a fullwidth quote is no quote", L"\"%ls\" \"%ls＂ HIGH ＂\"", L"q1", {L"q1"}, USAGE_BOX " 32"},
    // A name against its look-alike listed first: the same lead byte, second bytes 0x41 and 0x61.
    {932, "ア is not the listed ヂ", L"\"%ls\" %ls BELOW_NORMAL", L"ア", {L"ヂ", L"ア"}, " 32 16384"},
    {936, "丄 is not the listed 乤", L"\"%ls\" %ls BELOW_NORMAL", L"丄", {L"乤", L"丄"}, " 32 16384"},
    {949, "갂 is not the listed 갵", L"\"%ls\" %ls BELOW_NORMAL", L"갂", {L"갵", L"갂"}, " 32 16384"},
};
// clang-format on

// The targets' classes in the order the process list shows them, as far as
// it shows them under their names: "first" then means what it means to the tool.
static std::string Classes(const PROCESS_INFORMATION *pTargets, int n)
{
    std::string s;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe = {sizeof pe};
    for (BOOL b = Process32FirstW(hSnap, &pe); b; b = Process32NextW(hSnap, &pe))
        for (int i = 0; i < n; i++)
            if (pTargets[i].dwProcessId == pe.th32ProcessID && pe.szExeFile[0] != '\0') {
                HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pe.th32ProcessID);
                s += " " + std::to_string(GetPriorityClass(hProcess));
                CloseHandle(hProcess);
            }
    CloseHandle(hSnap);
    return s;
}

static PROCESS_INFORMATION Start(const wchar_t *pszApp, std::wstring cmd)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(pszApp, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) CloseHandle(pi.hThread);
    return pi;
}

// The standard icon the tool's thread loaded since the log had lSince bytes. A 32-bit process under
// WoW64 cannot load it (Wine 8 fails LoadIcon there), so its box's icon control stays empty: which
// icon the box asked for is what both builds can show.
static std::string LoadedIcon(const char *pszLog, long lSince, DWORD dwThread)
{
    std::string kind = "icon not loaded";
    char szLine[512], szPrefix[48];
    snprintf(szPrefix, sizeof szPrefix, "%04lx:trace:cursor:LoadIconW ", dwThread);
    FILE *f = fopen(pszLog, "rb");
    if (f && fseek(f, lSince, SEEK_SET) == 0)
        while (fgets(szLine, sizeof szLine, f))
            if (const char *pId = strncmp(szLine, szPrefix, strlen(szPrefix)) ? NULL : strstr(szLine, ", #"))
                kind = !strncmp(pId, ", #7f04", 7)   ? "information"
                       : !strncmp(pId, ", #7f01", 7) ? "error"
                                                     : pId;
    if (f) fclose(f);
    return kind;
}

// Each box the tool shows (caption, text, its icon, the targets' classes while it is up), closed with
// OK; then the classes after the run and the exit code.
static std::string Watch(const PROCESS_INFORMATION &tool, const PROCESS_INFORMATION *pTargets, int n,
                         const char *pszLog, long lSince, const std::string &usage)
{
    std::string seen;
    DWORD dwExit = 0;
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 20000;) {
        bool bExited = WaitForSingleObject(tool.hProcess, 10) == WAIT_OBJECT_0;
        HWND hwnd = NULL; // the tool's box, once visible, that is with its texts and icon
        do hwnd = FindWindowExA(NULL, hwnd, "#32770", NULL);
        while (hwnd != NULL &&
               (GetWindowThreadProcessId(hwnd, NULL) != tool.dwThreadId || !IsWindowVisible(hwnd)));
        if (hwnd != NULL) {
            char szCaption[64] = "", szText[1024] = "";
            GetWindowTextA(hwnd, szCaption, sizeof szCaption);
            GetDlgItemTextA(hwnd, 0xFFFF, szText, sizeof szText);
            // stc1 (0x440) is the box's icon control, hidden when the box has no icon.
            bool bIcon = IsWindowVisible(GetDlgItem(hwnd, 0x0440));
            seen += std::string("[") + szCaption + "|" + (szText == usage ? "the usage text" : szText) + "|" +
                    (bIcon ? LoadedIcon(pszLog, lSince, tool.dwThreadId) : "no icon") + "|" +
                    Classes(pTargets, n) + "]";
            SendMessageA(hwnd, WM_COMMAND, IDOK, 0); // hides the box before it returns
        } else if (bExited && GetExitCodeProcess(tool.hProcess, &dwExit)) {
            return seen + Classes(pTargets, n) + " exit " + std::to_string(dwExit);
        }
    }
    return seen + " (timed out)";
}

int main(int argc, char **argv)
{
    if (argc < 4)
        return (int)SleepEx(600000, FALSE); // a target; capped, so that one left behind still goes away
    std::string usage(1024, '\0');
    FILE *f = fopen(argv[3], "rb");
    usage.resize(f ? fread(&usage[0], 1, usage.size(), f) : 0);
    int nFailed = 0, nRun = 0;
    wchar_t szTool[MAX_PATH], szSelf[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, szTool, MAX_PATH);
    GetModuleFileNameW(NULL, szSelf, MAX_PATH);
    for (const Case *t = Cases; t != std::end(Cases); t++) {
        if (t->uCodePage != (argc > 4 ? GetACP() : 0)) continue;
        nRun++;
        wchar_t szTag[32], szName[64], szCmd[1024];
        swprintf(szTag, 32, L"_%lu_%d.exe", GetCurrentProcessId(), (int)(t - Cases));
        swprintf(szName, 64, L"%ls%ls", t->pszName, szTag);
        swprintf(szCmd, 1024, t->pszCmd, szTool, szName);
        for (wchar_t *p = szCmd; *p; p++) *p = *p >= L'a' && *p <= L'z' ? *p - 32 : *p;
        PROCESS_INFORMATION targets[2] = {}, tool = {};
        int n = t->pszTargets[1] ? 2 : t->pszTargets[0] ? 1 : 0;
        std::wstring files[2];
        for (int i = 0; i < n; i++) {
            files[i] = std::wstring(t->pszTargets[i]) + szTag;
            CopyFileW(szSelf, files[i].c_str(), FALSE);
            targets[i] = Start(files[i].c_str(), files[i]);
        }
        // Until the list shows every target, each as " 32" (NORMAL).
        for (int i = 0; i < 500 && Classes(targets, n).size() != 3u * (size_t)n; i++) Sleep(10);
        WIN32_FILE_ATTRIBUTE_DATA log = {};
        GetFileAttributesExA(argv[2], GetFileExInfoStandard, &log);
        long lSince = (long)log.nFileSizeLow;
        std::string want = std::string(t->pszSeen) + " exit 0";
        std::string seen = Watch(tool = Start(szTool, szCmd), targets, n, argv[2], lSince, usage);
        for (const PROCESS_INFORMATION &pi : {tool, targets[0], targets[1]}) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
        }
        for (int i = 0; i < n; i++) DeleteFileW(files[i].c_str());
        printf("%s code page %u: %s\n", seen == want ? "ok  " : "FAIL", GetACP(), t->pszRule);
        if (seen != want) printf("  want: %s\n  seen: %s\n", want.c_str(), seen.c_str()), nFailed++;
    }
    // A locale that did not take gives code page 1252, where the look-alike cases are none.
    if (nRun == 0) printf("FAIL code page %u: no case for it\n", GetACP());
    return nFailed != 0 || nRun == 0;
}
