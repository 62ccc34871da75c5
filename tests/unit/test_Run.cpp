// The process lookup and the run flow, against the fake.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "App.h"
#include "FakePlatform.h"
#include "RunState.h"
#include "priority/Priority.h"

namespace
{

const std::string kWalk = "snapshot 1073741826 0; first " + std::to_string(sizeof(PROCESSENTRY32));

// Every case starts from a cleared record and a fresh process table, once
// the one before has closed every handle it opened, each once.
class Tool : public ::testing::Test
{
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { ExpectClosed(); }
    void ExpectClosed() { EXPECT_TRUE(fake::g.open.empty() && fake::g.badCloses == 0) << fake::Trace(); }
    void Reset()
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
        std::string s = "snapshot 1073741826 " + std::to_string(pid) + "; first " +
                        std::to_string(sizeof(PROCESSENTRY32));
        for (size_t i = 0; fake::g.processes[i].pid != pid; i++) s += "; next";
        return s + "; close";
    }
};

TEST_F(Tool, SetPriorityByExeName)
{
    // 77: the last error as the fake left it
    const struct {
        const char *rule;
        std::string module;
        DWORD cls;
        bool dbcs, ok, opened;
        DWORD error;
        std::string trace; // how the trace ends
    } cases[] = {
        {"a name matches in either ASCII case; a fresh list must still show its number", "NOTEPAD.exe", 0x40,
         false, true, true, 77,
         kWalk + "; next; open 512 0 100; close; " + Relisted(100) + "; set 100 64; close"},
        {"the class is passed on untested", "notepad.EXE", 12345, false, true, true, 77,
         "set 100 12345; close"},
        {"a blank is part of the name", "my app.exe", 0x80, false, true, true, 77, "set 300 128; close"},
        {"only the first match is tried, even when it does not open", "locked.exe", 0x80, false, false, false,
         13, "next; open 512 0 400; close"},
        {"a refusal gives the system's code", "svc.exe", 0x100, false, false, true, 5, "set 500 256; close"},
        {"a part of a name matches nothing", "notepad", 0x40, false, false, false, 13, "next; next; close"},
        {"a trailing blank matches no name without it", "a.exe ", 0x40, false, false, false, 13,
         "next; close"},
        {"bytes from 0x80 up are compared exactly", "\xe0.exe", 0x40, false, false, false, 13, "next; close"},
        {"an empty name matches an empty listed name", "", 0x40, false, true, true, 77, "set 700 64; close"},
        {"259 characters match in either case", std::string(259, 'q'), 0x40, false, true, true, 77,
         "set 800 64; close"},
        {"a longer name matches nothing, and is not cut to one that does", std::string(260, 'Q'), 0x40, false,
         false, false, 13, "snapshot 1073741826 0; close"},
        {"the second byte of a double-byte character is not folded", "\x83\x41.EXE", 0x40, true, true, true,
         77, "open 512 0 1200; close; " + Relisted(1200) + "; set 1200 64; close"},
        {"without double-byte characters every ASCII capital folds", "\x83\x41.EXE", 0x40, false, true, true,
         77, "set 1100 64; close"},
        {"a lead byte at the end keeps the terminator", "END\x83", 0x40, true, true, true, 77,
         "set 1300 64; close"},
        {"a number listed under another name once opened changes nothing", "reused.exe", 0x40, false, false,
         false, 13, "open 512 0 1400; close; " + Relisted(1400) + "; close"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        Reset();
        fake::g.dbcs = c.dbcs;
        fake::g.lastError = 77;
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        DWORD error = 0;
        EXPECT_EQ(SetPriorityByExeName(c.module.c_str(), c.cls, &error) != FALSE, c.ok);
        EXPECT_EQ(RunState.hProcess != nullptr, c.opened);
        EXPECT_EQ(error, c.error);
        std::string trace = fake::Trace();
        EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), c.trace.size())), c.trace);
        ExpectClosed();
    }
    Reset();
    fake::g.snapshotFails = true;
    EXPECT_FALSE(SetPriorityByExeName("notepad.exe", 0x40, nullptr));
    EXPECT_EQ(fake::Trace(), "snapshot 1073741826 0") << "an invalid snapshot is not closed";
}

TEST_F(Tool, WinMain)
{
    // What the user sees, in order: the notices, S when the process list is
    // read, and the change made.
    const std::string cases[][2] = {
        // clang-format off
        {"\1", "notice U"} /* no tail at all */, {"", "notice U"}, {"notepad.exe", "notice U"}, {"\"\"", "notice U"},
        {"\"notepad.exe IDLE", "notice U"}, {std::string(300, 'a') + " IDLE", "notice U"},
        {"notepad.exe IDLE", "S S set 100 64"}, {"\"my app.EXE\" 0x8000", "S S set 300 32768"},
        {"notepad.exe high", ""}, {"notepad.exe 0", ""}, {"other.exe IDLE", "S"}, {"locked.exe IDLE", "S"},
        {"reused.exe IDLE", "S S"}, {"svc.exe REALTIME", "S S set 500 256 notice F5"},
        {"crash.exe IDLE", "S S set 900 64 notice F-1073741819"},
        {"notepad.exe HIGH extra", "notice U S S set 100 128"},
        {"svc.exe HIGH extra", "notice U S S set 500 128 notice F5"},
        // clang-format on
    };
    for (const auto &c : cases) {
        Reset();
        RunState.dwPriorityClass = HIGH_PRIORITY_CLASS; // whatever a previous run left
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        std::string tail = c[0];
        EXPECT_EQ(WinMain(nullptr, nullptr, tail == "\1" ? nullptr : &tail[0], SW_SHOWDEFAULT), 0);
        std::string outline;
        for (const std::string &call : fake::g.calls)
            if (call.find("notice") == 0 || call.find("set") == 0 || call.find("snapshot") == 0)
                outline += (outline.empty() ? "" : " ") + (call[1] == 'n' ? "S" : call);
        EXPECT_EQ(outline, c[1]) << c[0];
        EXPECT_EQ(RunState.lpModuleName, nullptr) << "the buffer is released";
        ExpectClosed();
    }
}

} // namespace
