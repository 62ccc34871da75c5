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

// Every case starts from a cleared record and a fresh process table, once
// the one before has closed every handle it opened, each once.
class Tool : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        EXPECT_TRUE(fake::g.open.empty() && fake::g.badCloses == 0) << "last case: " << fake::Trace();
        fake::g = fake::World();
        std::memset(&RunState, 0, sizeof(RunState));
        // clang-format off
        fake::g.processes = {{4, "System"}, {100, "notepad.exe"}, {200, "NotePad.EXE"}, {300, "My App.exe"},
                             {400, "locked.exe", false}, {500, "svc.exe", true, ERROR_ACCESS_DENIED},
                             {600, "\xc0.exe"}, {700, ""}, {800, std::string(259, 'Q')},
                             {900, "crash.exe", true, 0xC0000005}, {1000, "Locked.EXE"}};
        // clang-format on
    }
    void TearDown() override { SetUp(); }
};

TEST_F(Tool, SetPriorityByExeName)
{
    const std::string walk = "snapshot 1073741826 0; first " + std::to_string(sizeof(PROCESSENTRY32));
    // 77: the last error as the fake left it
    // clang-format off
    const struct { std::string module; DWORD cls; BOOL ok; bool opened; DWORD error; std::string trace; } cases[] = {
        {"NOTEPAD.exe", 0x40, TRUE, true, 77, walk + "; next; open 512 0 100; close; set 100 64; close"},
        {"notepad.EXE", 12345, TRUE, true, 77, "open 512 0 100; close; set 100 12345; close"},
        {"my app.exe", 0x80, TRUE, true, 77, "set 300 128; close"},
        {"locked.exe", 0x80, FALSE, false, 13, "next; open 512 0 400; close"}, // the first match only
        {"svc.exe", 0x100, FALSE, true, 5, "set 500 256; close"},
        {"crash.exe", 0x40, FALSE, true, 0xC0000005, "set 900 64; close"},
        {"notepad", 0x40, FALSE, false, 13, "next; next; close"}, {"a.exe ", 0x40, FALSE, false, 13, "next; close"},
        {"\xe0.exe", 0x40, FALSE, false, 13, "next; next; close"},
        {"", 0x40, TRUE, true, 77, "open 512 0 700; close; set 700 64; close"},
        {std::string(259, 'q'), 0x40, TRUE, true, 77, "open 512 0 800; close; set 800 64; close"},
        {std::string(260, 'Q'), 0x40, FALSE, false, 13, "snapshot 1073741826 0; close"}, // fits no name
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        fake::g.lastError = 77;
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        DWORD error = 0;
        EXPECT_EQ(SetPriorityByExeName(c.module.c_str(), c.cls, &error) != FALSE, c.ok != FALSE) << c.module;
        EXPECT_EQ(RunState.hProcess != nullptr, c.opened) << c.module;
        EXPECT_EQ(error, c.error) << c.module;
        std::string trace = fake::Trace();
        EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), c.trace.size())), c.trace) << c.module;
    }
    SetUp();
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
        {"notepad.exe IDLE", "S set 100 64"}, {"\"my app.EXE\" 0x8000", "S set 300 32768"},
        {"notepad.exe high", ""}, {"notepad.exe 0", ""}, {"other.exe IDLE", "S"}, {"locked.exe IDLE", "S"},
        {"svc.exe REALTIME", "S set 500 256 notice F5"}, {"crash.exe IDLE", "S set 900 64 notice F-1073741819"},
        {"notepad.exe HIGH extra", "notice U S set 100 128"}, {"svc.exe HIGH extra", "notice U S set 500 128 notice F5"},
        // clang-format on
    };
    for (const auto &c : cases) {
        SetUp();
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
    }
}

} // namespace
