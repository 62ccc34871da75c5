// The whole command-line path: raw command line -> SkipProgramName -> WinMain,
// against the fake with a small process table whose quirks the input picks.
//
// Input: byte 0 chooses the quirks, the rest (up to a NUL) is the command line.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "App.h"
#include "FakePlatform.h"
#include "Reference.h"
#include "RunState.h"

namespace
{

const std::string kUsageText = "Tolvenar Reference\n\nArguments:\n tolv \"Module File\" PRIORITY\n\n"
                               " \"Module File\" parameters is .EXE file name\n\ncommand line samples:\n"
                               "(for InternetExplorer)\n \"iexplore.exe\" BELOW_NORMAL\n\n(for WMP)\n"
                               " \"wmplayer.exe\" IDLE\n\nPriority Parameters:\n REALTIME=256\n HIGHEST=128\n"
                               " HIGH=128\n ABOVE_NORMAL=32768\n NORMAL=32\n BELOW_NORMAL=16384\n IDLE=64\n";

enum Quirk : uint8_t {
    kSnapshotFails = 1 << 0,
    kFirstNotepadClosed = 1 << 1, // the first notepad.exe will not open
    kFirstNotepadRefuses = 1 << 2,
    kOddNamesRefuse = 1 << 3, // the empty, long and high-byte names refuse
    kReversed = 1 << 4,       // the table in the opposite order
    // bits 5-7 pick the refusal code
};

const DWORD kRefusalCodes[] = {5, 87, 1, 31, 0xC0000005, 0x80000000, 0x7FFFFFFF, 0};

std::string LongName()
{
    // 259 characters, the longest name the process list reports.
    std::string s;
    while (s.size() < 255)
        s += "LongName";
    s.resize(255);
    return s + ".Exe";
}

void BuildTable(uint8_t quirks)
{
    fake::Reset();
    DWORD refusal = kRefusalCodes[quirks >> 5];
    if (refusal == 0)
        refusal = 0xFFFFFFFF; // shown as -1
    struct Row {
        DWORD pid;
        std::string name;
        bool opens;
        DWORD refuse;
    };
    bool odd = quirks & kOddNamesRefuse;
    const Row rows[] = {
        {4, "System", false, 0},
        {100, "notepad.exe", !(quirks & kFirstNotepadClosed), (quirks & kFirstNotepadRefuses) ? refusal : 0},
        {101, "NOTEPAD.EXE", true, 0},
        {102, "My App.exe", true, 0},
        {103, "", true, odd ? refusal : 0},
        {104, LongName(), true, odd ? refusal : 0},
        {105, "caf\xC9.exe", true, odd ? refusal : 0},
        {106, "caf\xE9.exe", true, 0},
        {107, "NULL", true, 0},
        {108, "Notepad.Exe", true, refusal},
        {109, "a", false, 0},
    };
    auto &table = fake::Get().processes;
    for (const Row &r : rows) {
        fake::Process p;
        p.pid = r.pid;
        p.exeFile = r.name;
        p.opens = r.opens;
        p.refuseError = r.refuse;
        table.push_back(p);
    }
    if (quirks & kReversed)
        std::reverse(table.begin(), table.end());
    fake::Get().snapshotFails = quirks & kSnapshotFails;
}

bool ValidClass(DWORD c)
{
    // The classes the fake accepts; any other number it refuses with 87.
    return c == 0x40 || c == 0x4000 || c == 0x20 || c == 0x8000 || c == 0x80 || c == 0x100;
}

int Count(const std::string &prefix)
{
    int n = 0;
    for (const auto &c : fake::Get().calls)
        n += c.compare(0, prefix.size(), prefix) == 0;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t quirks = data[0];
    std::string line(reinterpret_cast<const char *>(data + 1), size - 1);
    line.resize(std::strlen(line.c_str()));
    std::string input(reinterpret_cast<const char *>(data), size);

    BuildTable(quirks);
    std::vector<fake::Process> before = fake::Get().processes;

    // A buffer of its own length, so ASan sees a read past the terminator.
    char *cmdLine = static_cast<char *>(std::malloc(line.size() + 1));
    std::memcpy(cmdLine, line.c_str(), line.size() + 1);
    LPSTR tail = SkipProgramName(cmdLine);
    if (tail == nullptr || std::string(tail) != ref::Tail(line))
        ref::Fail("command tail differs from the reference", input);
    std::string tailText = tail;

    // What the parse gives, read beforehand into a buffer the harness owns:
    // the run flow frees its own before anyone could look.
    std::memset(&RunState, 0, sizeof(RunState));
    char *module = static_cast<char *>(std::malloc(MODULE_NAME_SIZE));
    // A quote never survives into a token: it marks a buffer left unwritten.
    std::memset(module, '"', MODULE_NAME_SIZE);
    RunState.lpModuleName = module;
    if (!tailText.empty()) {
        std::string scratch = tailText;
        ParseCommandTail(scratch.c_str());
        if (module[0] != '"' && strnlen(module, MODULE_NAME_SIZE) > MODULE_NAME_SIZE - 1)
            ref::Fail("module name longer than 259 characters", input);
    }
    std::free(module);

    int result = WinMain(nullptr, nullptr, tail, SW_SHOWDEFAULT);
    std::free(cmdLine);

    const fake::World &w = fake::Get();
    if (result != 0)
        ref::Fail("WinMain returned nonzero", input);
    if (w.liveHandles != 0 || w.badCloses != 0)
        ref::Fail("a handle was left open or closed twice", input);
    if (Count("snapshot") > 1 || Count("open ") > 1 || Count("set ") > 1)
        ref::Fail("more than one snapshot, open or change in one run", input);

    // Every notice is one of the two, exactly.
    int usage = 0, failure = 0;
    for (const fake::Notice &n : w.notices) {
        if (n.owner != nullptr || n.caption != "Tolvenar")
            ref::Fail("notice with an owner or the wrong caption", input);
        if (n.type == (MB_OK | MB_ICONINFORMATION) && n.text == kUsageText)
            usage++;
        else if (n.type == (MB_OK | MB_ICONERROR) &&
                 n.text.rfind("SetPriorityClass function error\n\nGetLastError()=", 0) == 0)
            failure++;
        else
            ref::Fail("notice that is neither usage nor failure", input);
    }
    if (usage > 1 || failure > 1 || (usage && failure && w.notices[0].type != (MB_OK | MB_ICONINFORMATION)))
        ref::Fail("notices repeated or out of order", input);
    if (usage && Count("snapshot") && fake::FindCall("notice") > fake::FindCall("snapshot"))
        ref::Fail("process list read before the usage notice was dismissed", input);

    // Which process was opened, and what became of it.
    int openAt = fake::FindCall("open ");
    const fake::Process *opened = nullptr;
    if (openAt >= 0) {
        DWORD pid = DWORD(std::strtoul(w.calls[size_t(openAt)].c_str() + 5, nullptr, 10));
        for (const auto &p : before)
            if (p.pid == pid)
                opened = &p;
        if (opened == nullptr)
            ref::Fail("opened a process that is not in the table", input);
        if (w.openAccess != PROCESS_SET_INFORMATION || w.openInherit != FALSE)
            ref::Fail("opened with more than the right to set the class", input);
    }
    int setAt = fake::FindCall("set ");
    bool setCalled = setAt >= 0;
    if (setCalled && (opened == nullptr || !opened->opens))
        ref::Fail("class set without an open handle", input);
    DWORD setClass = 0;
    if (setCalled) {
        // "set <pid> <class>"
        const std::string &call = w.calls[size_t(setAt)];
        setClass = DWORD(std::strtoul(call.c_str() + call.rfind(' ') + 1, nullptr, 10));
    }
    bool refused = setCalled && (opened->refuseError != 0 || !ValidClass(setClass));
    if (failure != (refused ? 1 : 0))
        ref::Fail("failure notice without a refusal, or a refusal without the notice", input);
    if (failure) {
        DWORD code = opened->refuseError != 0 ? opened->refuseError : DWORD(ERROR_INVALID_PARAMETER);
        std::string expect =
            "SetPriorityClass function error\n\nGetLastError()=" + std::to_string(int(code)) + "\n";
        if (w.notices.back().text != expect)
            ref::Fail("failure notice with the wrong code", input);
    }

    // What the reference says should have happened.
    std::vector<std::string> tokens = ref::Tokens(tailText);
    if (!tokens.empty() && tokens[0].size() > MODULE_NAME_SIZE - 1)
        return 0; // the tool's own choice; the invariants above still hold
    bool expectUsage = tokens.size() != 2;
    DWORD expectClass = tokens.size() >= 2 ? ref::Class(tokens[1]) : 0;
    if ((usage == 1) != expectUsage)
        ref::Fail("usage notice shown when it should not be, or missing", input);
    if (RunState.dwPriorityClass != expectClass)
        ref::Fail("class differs from the reference", input);
    if ((Count("snapshot") == 1) != (expectClass != 0))
        ref::Fail("process list read without a class, or not read with one", input);
    if (expectClass == 0 || w.snapshotFails) {
        if (openAt >= 0)
            ref::Fail("opened a process with no class or no snapshot", input);
        return 0;
    }
    std::string want = ref::Fold(tokens[0] == "NULL" ? "" : tokens[0]);
    const fake::Process *first = nullptr;
    for (const auto &p : before)
        if (first == nullptr && ref::Fold(p.exeFile) == want)
            first = &p;
    if (first != opened)
        ref::Fail("opened a process other than the first match", input);
    if (setCalled != (first != nullptr && first->opens))
        ref::Fail("class not set on the opened match, or set on none", input);
    if (setCalled && setClass != expectClass)
        ref::Fail("a class other than the requested one was set", input);
    return 0;
}
