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

const std::string kFirst = "first " + std::to_string(sizeof(PROCESSENTRY32));

// Every case starts from a cleared record and a fresh process table, and
// ends with every handle it opened closed, each once.
class Tool : public ::testing::Test
{
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { ExpectClosed(); }
    static void ExpectClosed()
    {
        EXPECT_TRUE(fake::g.open.empty() && fake::g.badCloses == 0) << fake::Trace();
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
                             {1300, "end\x83"}, {1400, "reused.exe", true, 0, "other.exe"}};
        // clang-format on
    }
    // The second walk, to the opened number, and its close.
    static std::string Relisted(DWORD pid)
    {
        std::string s = "snapshot 1073741826 " + std::to_string(pid) + "; " + kFirst;
        for (size_t i = 0; fake::g.processes[i].pid != pid; i++) s += "; next";
        return s + "; close";
    }
};

TEST_F(Tool, CopyLower)
{
    // clang-format off
    const struct { const char *rule, *src, *dst; bool dbcs; } cases[] = {
        {"ASCII capitals only are folded", "NotePad.EXE \xc0\xe0", "notepad.exe \xc0\xe0", false},
        {"the second byte of a double-byte character is kept", "\x83\x41\x83\x61-A", "\x83\x41\x83\x61-a", true},
        {"without double-byte characters every ASCII capital folds", "\x83\x41", "\x83\x61", false},
        {"a lead byte at the end keeps the terminator", "A\x83", "a\x83", true},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        fake::g.dbcs = c.dbcs;
        char szDst[16];
        std::memset(szDst, 'J', sizeof szDst);
        CopyLower(szDst, c.src);
        EXPECT_EQ(std::string(szDst, std::strlen(c.dst) + 2), std::string(c.dst) + '\0' + 'J');
    }
}

TEST_F(Tool, SetPriorityByExeName)
{
    // clang-format off
    // snapshots: how many succeed; empty: a list of no process
    const struct { const char *rule; std::string module; bool dbcs, ok, opened; DWORD error; std::string trace;
                   int snapshots = 1000; bool empty = false; } cases[] = {
        {"either ASCII case matches; a second list confirms the number", "NOTEPAD.exe", false, true, true, 77,
         "0; " + kFirst + "; next; open 512 0 100; close; " + Relisted(100) + "; set 100 64; close"},
        {"a blank is part of the name", "my app.exe", false, true, true, 77, "set 300 64; close"},
        {"the first match only, even when it does not open", "locked.exe", false, false, false, 13, "next; open 512 0 400; close"},
        {"a refusal gives the system's code", "svc.exe", false, false, true, 5, "set 500 64; close"},
        {"a part of a name matches nothing", "notepad", false, false, false, 13, "next; next; close"},
        {"a trailing blank matches no name without it", "a.exe ", false, false, false, 13, "next; close"},
        {"bytes from 0x80 up are compared exactly", "\xe0.exe", false, false, false, 13, "next; close"},
        {"an empty name matches an empty listed name", "", false, true, true, 77, "set 700 64; close"},
        {"259 characters match in either case", std::string(259, 'q'), false, true, true, 77, "set 800 64; close"},
        {"a longer name is not cut to one that matches", std::string(260, 'Q'), false, false, false, 13, "snapshot 1073741826 0; close"},
        {"a double-byte name is not its look-alike", "\x83\x41.EXE", true, true, true, 77, "; set 1200 64; close"},
        {"a number listed under another name once opened", "reused.exe", false, false, false, 13,
         "open 512 0 1400; close; " + Relisted(1400) + "; close"},
        {"no list: nothing to close", "notepad.exe", false, false, false, 13, "snapshot 1073741826 0", 0},
        {"an empty list: nothing opened", "notepad.exe", false, false, false, 13, "0; " + kFirst + "; close", 1000, true},
        {"no second list to confirm the open: nothing changed", "notepad.exe", false, false, false, 13,
         "open 512 0 100; close; snapshot 1073741826 100; close", 1},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        Reset();
        fake::g.dbcs = c.dbcs;
        fake::g.snapshots = c.snapshots;
        if (c.empty) fake::g.processes.clear();
        fake::g.lastError = 77; // the last error as the fake left it
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        DWORD error = 0;
        EXPECT_EQ(SetPriorityByExeName(c.module.c_str(), 0x40, &error) != FALSE, c.ok);
        EXPECT_EQ(RunState.hProcess != nullptr, c.opened);
        EXPECT_EQ(error, c.error);
        EXPECT_THAT(fake::Trace(), ::testing::EndsWith(c.trace));
        ExpectClosed();
    }
}

TEST_F(Tool, WinMain)
{
    // What the user sees, in order: the notices, "list" where the process
    // list is read, and the change made.
    // clang-format off
    const struct { const char *rule, *tail, *seen; } cases[] = {
        {"no tail at all", nullptr, "usage notice"},
        {"one token", "notepad.exe", "usage notice"},
        {"success is silent", "notepad.exe IDLE", "list; list; set 100 64"},
        {"the class is passed on untested", "notepad.exe 12345", "list; list; set 100 12345"},
        {"no class: the list is not read", "notepad.exe high", ""},
        {"no process of the name: nothing shown", "other.exe IDLE", "list"},
        {"a process that will not open: nothing shown", "locked.exe IDLE", "list"},
        {"a number reused before the open: nothing shown", "reused.exe IDLE", "list; list"},
        {"a refusal shows its code", "svc.exe REALTIME", "list; list; set 500 256; failure notice 5"},
        {"a code is shown signed", "crash.exe IDLE", "list; list; set 900 64; failure notice -1073741819"},
        {"three tokens: usage, then the change", "notepad.exe HIGH extra", "usage notice; list; list; set 100 128"},
        {"both notices in one run", "svc.exe HIGH extra", "usage notice; list; list; set 500 128; failure notice 5"},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        Reset();
        RunState.dwPriorityClass = HIGH_PRIORITY_CLASS; // whatever a previous run left
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        std::string tail = c.tail ? c.tail : "";
        EXPECT_EQ(WinMain(nullptr, nullptr, c.tail ? &tail[0] : nullptr, SW_SHOWDEFAULT), 0);
        std::string seen;
        for (const std::string &call : fake::g.calls) {
            if (call.find("snapshot") == 0) seen += "; list";
            if (call.find("notice") != std::string::npos || call.find("set") == 0) seen += "; " + call;
        }
        EXPECT_EQ(seen.substr(std::min<size_t>(2, seen.size())), c.seen);
        EXPECT_EQ(RunState.lpModuleName, nullptr) << "the buffer is released";
        ExpectClosed();
    }
}

} // namespace
