// The process lookup and the run flow, against the fake.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "App.h"
#include "FakePlatform.h"
#include "RunState.h"
#include "priority/Priority.h"

namespace
{

// Every case starts from a cleared record and a fresh process table, and
// ends with every handle it opened closed, each once.
class Tool : public ::testing::Test
{
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { ExpectClosed(); }
    static void ExpectClosed()
    {
        EXPECT_TRUE(fake::g.open.empty() && fake::g.badCloses == 0)
            << fake::g.open.size() << " handles left open, " << fake::g.badCloses
            << " closed that were not open";
    }
    static void Reset()
    {
        fake::g = fake::World();
        std::memset(&RunState, 0, sizeof(RunState));
        // clang-format off
        fake::g.processes = {{4, "System"}, {100, "notepad.exe"}, {200, "NotePad.EXE"}, {300, "My App.exe"},
                             {400, "locked.exe", false}, {500, "svc.exe", true, ERROR_ACCESS_DENIED},
                             {600, "\xc0.exe"}, {700, ""}, {800, std::string(259, 'Q')},
                             {900, "crash.exe", true, 0xC0000005}, {1000, "Locked.EXE"},
                             {1100, "\x83\x61.exe"} /* ヂ.exe in code page 932 */, {1200, "\x83\x41.exe"} /* ア.exe */,
                             {1300, "end\x83"}, {1400, "reused.exe", true, 0, "other.exe"},
                             {1500, "rr.exe", true, 0, "ended"}, {1600, "rr.exe"}, {1800, std::string(258, '\x83') + "Q"}};
        // clang-format on
        for (DWORD pid = 1700; pid < 1704; pid++)
            fake::g.processes.push_back({pid, "lost.exe", true, 0, "ended"});
    }
};

TEST_F(Tool, SetPriorityByExeName)
{
    // What the caller gets: the result, the processes opened, the one whose
    // class was set, the code (77: the last error as the fake left it).
    struct Row {
        const char *rule;
        std::string module, did = ""; // the processes opened, and the one set to 64
        bool ok = false, dbcs = false;
        DWORD error = 13, snapshots = 1000; // snapshots: how many succeed
    };
    // clang-format off
    const Row rows[] = {
        {.rule = "either ASCII case matches", .module = "NOTEPAD.exe", .did = "open 100; set 100 64", .ok = true, .error = 77},
        {.rule = "the first match only, even when it does not open", .module = "locked.exe"},
        {.rule = "a refusal gives the system's code", .module = "svc.exe", .did = "open 500; set 500 64", .error = 5},
        {.rule = "a trailing blank matches no name without it", .module = "notepad.exe "},
        {.rule = "bytes from 0x80 up are compared exactly", .module = "\xe0.exe"},
        {.rule = "259 characters match in either case", .module = std::string(259, 'q'),
         .did = "open 800; set 800 64", .ok = true, .error = 77},
        {.rule = "an empty name matches an empty listed name", .module = "",
         .did = "open 700; set 700 64", .ok = true, .error = 77},
        {.rule = "a longer name is not cut to one that matches", .module = std::string(260, 'Q')},
        {.rule = "a double-byte name is not its look-alike", .module = "\x83\x41.EXE",
         .did = "open 1200; set 1200 64", .ok = true, .dbcs = true, .error = 77},
        {.rule = "each double-byte character is copied once, its second byte kept, the last byte folded",
         .module = std::string(258, '\x83') + "q", .did = "open 1800; set 1800 64", .ok = true, .dbcs = true, .error = 77},
        {.rule = "a number listed under another name once opened: nothing set", .module = "reused.exe", .did = "open 1400"},
        {.rule = "a first match that ended gives way to the next confirmed", .module = "rr.exe",
         .did = "open 1500; open 1600; set 1600 64", .ok = true, .error = 77},
        {.rule = "every look lost: three, then nothing changed", .module = "lost.exe", .did = "open 1700; open 1701; open 1702"},
        {.rule = "no list", .module = "notepad.exe", .snapshots = 0},
        {.rule = "no second list to confirm the open: nothing changed", .module = "notepad.exe",
         .did = "open 100", .snapshots = 1},
    };
    // clang-format on
    for (const Row &r : rows) {
        SCOPED_TRACE(r.rule);
        Reset();
        fake::g.dbcs = r.dbcs;
        fake::g.snapshots = (int)r.snapshots;
        fake::g.lastError = 77;
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        DWORD error = 0;
        EXPECT_EQ(SetPriorityByExeName(r.module.c_str(), 0x40, &error) != FALSE, r.ok) << "wrong result";
        EXPECT_EQ(fake::Events({"open", "set"}), r.did) << "other processes opened or set";
        EXPECT_EQ(RunState.hProcess != nullptr, r.did.find("set") != std::string::npos)
            << "hProcess marks no set";
        EXPECT_EQ(error, r.error) << "wrong error code";
        ExpectClosed();
    }
}

TEST_F(Tool, WinMain)
{
    // What the user sees, in order: the notices, "list" where the process
    // list is read (once or more), and the change made.
    // clang-format off
    const struct { const char *rule, *tail, *seen; } cases[] = {
        {"no tail at all", nullptr, "usage notice"},
        {"one token", "notepad.exe", "usage notice"},
        {"success is silent", "notepad.exe IDLE", "list; set 100 64"},
        {"the class is passed on untested", "notepad.exe 12345", "list; set 100 12345"},
        {"no class: the list is not read", "notepad.exe high", ""},
        {"no process of the name: nothing shown", "other.exe IDLE", "list"},
        {"a refusal shows its code", "svc.exe REALTIME", "list; set 500 256; failure notice 5"},
        {"a code is shown signed", "crash.exe IDLE", "list; set 900 64; failure notice -1073741819"},
        {"three tokens: usage, then the change", "notepad.exe HIGH extra", "usage notice; list; set 100 128"},
        {"both notices in one run", "svc.exe HIGH extra", "usage notice; list; set 500 128; failure notice 5"},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        Reset();
        RunState.dwPriorityClass = HIGH_PRIORITY_CLASS; // whatever a previous run left
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        std::string tail = c.tail ? c.tail : "";
        EXPECT_EQ(WinMain(nullptr, nullptr, c.tail ? &tail[0] : nullptr, SW_SHOWDEFAULT), 0)
            << "exit code not 0";
        std::string seen = fake::Events({"list", "set", "usage", "failure", "other"});
        for (size_t i; (i = seen.find("list; list")) != std::string::npos;) seen.erase(i, 6);
        EXPECT_EQ(seen, c.seen) << "other notices, changes or order";
        EXPECT_EQ(RunState.lpModuleName, nullptr) << "the module-name buffer was not released";
        ExpectClosed();
    }
}

} // namespace
