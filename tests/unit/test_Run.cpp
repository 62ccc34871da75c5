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

TEST(CopyLower, FoldsOnlyAsciiCapitals)
{
    const char *const cases[][2] = {
        {"", ""},
        {"MiXeD-09_@[`{~.Exe AZ", "mixed-09_@[`{~.exe az"},
        {"\xc0\xc9\xde\xff\x80", "\xc0\xc9\xde\xff\x80"} // bytes from 0x80 up are no letters
    };
    for (const auto &c : cases) {
        char dst[MAX_PATH];
        std::memset(dst, '#', sizeof(dst));
        CopyLower(dst, c[0]);
        EXPECT_STREQ(dst, c[1]);
        EXPECT_EQ(dst[std::strlen(c[0]) + 1], '#') << "written past the terminator";
    }
}

// Every test starts from a cleared record and an empty process table, and
// ends with every handle closed, each once.
class Tool : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake::Reset();
        std::memset(&RunState, 0, sizeof(RunState));
        fake::g.processes = {{4, "System"},
                             {100, "notepad.exe"},
                             {200, "NotePad.EXE"},
                             {300, "My App.exe"},
                             {400, "locked.exe"},
                             {500, "svc.exe"},
                             {600, "\xc0.exe"},
                             {700, ""},
                             {800, std::string(259, 'Q')},
                             {900, "crash.exe"},
                             {1000, "Locked.EXE"}};
        fake::g.processes[4].opens = false;
        fake::g.processes[5].refuse = ERROR_ACCESS_DENIED;
        fake::g.processes[9].refuse = 0xC0000005;
    }
    void TearDown() override
    {
        EXPECT_TRUE(fake::g.open.empty()) << "handle left open";
        EXPECT_EQ(fake::g.badCloses, 0);
    }
};

const std::string kWalk = "snapshot 1073741826 0; first " + std::to_string(sizeof(PROCESSENTRY32));

TEST_F(Tool, SetPriorityByExeName)
{
    const struct {
        std::string module;
        DWORD cls;
        BOOL ok;
        bool opened;
        DWORD error; // 77: the last error as the fake left it
        std::string trace;
    } cases[] = {
        {"NOTEPAD.exe", 0x40, TRUE, true, 77, kWalk + "; next; open 512 0 100; close; set 100 64; close"},
        {"notepad.EXE", 12345, TRUE, true, 77, "open 512 0 100; close; set 100 12345; close"},
        {"my app.exe", 0x80, TRUE, true, 77, "set 300 128; close"},
        {"locked.exe", 0x80, FALSE, false, 13, "next; open 512 0 400; close"}, // the first match only
        {"svc.exe", 0x100, FALSE, true, 5, "set 500 256; close"},
        {"crash.exe", 0x40, FALSE, true, 0xC0000005, "set 900 64; close"},
        {"notepad", 0x40, FALSE, false, 13, "next; next; close"},
        {"notepad.exe ", 0x40, FALSE, false, 13, "next; next; close"},
        {"\xe0.exe", 0x40, FALSE, false, 13, "next; next; close"},
        {"", 0x40, TRUE, true, 77, "open 512 0 700; close; set 700 64; close"},
        {std::string(259, 'q'), 0x40, TRUE, true, 77, "open 512 0 800; close; set 800 64; close"},
        {std::string(260, 'Q'), 0x40, FALSE, false, 13, "snapshot 1073741826 0; close"} // fits no name
    };
    for (const auto &c : cases) {
        SetUp();
        fake::g.lastError = 77;
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        DWORD error = 0;
        EXPECT_EQ(SetPriorityByExeName(c.module.c_str(), c.cls, &error) != FALSE, c.ok != FALSE) << c.module;
        EXPECT_EQ(RunState.hProcess != nullptr, c.opened) << c.module;
        EXPECT_EQ(error, c.error) << c.module;
        std::string trace = fake::Trace();
        EXPECT_EQ(trace.substr(0, 21), "snapshot 1073741826 0") << c.module;
        EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), c.trace.size())), c.trace) << c.module;
    }
    SetUp();
    fake::g.snapshotFails = true;
    EXPECT_FALSE(SetPriorityByExeName("notepad.exe", 0x40, nullptr));
    EXPECT_EQ(fake::Trace(), "snapshot 1073741826 0") << "an invalid snapshot is not closed";
}

// The run as the user sees it: U (usage notice), F<code> (failure notice),
// S (the process list read) and the changes made, in order.
std::string Outline()
{
    std::string s;
    size_t i = 0;
    for (const std::string &call : fake::g.calls) {
        std::string t = call.compare(0, 3, "set") == 0        ? call
                        : call.compare(0, 8, "snapshot") == 0 ? "S"
                                                              : "";
        if (call == "notice") {
            const fake::Notice &n = fake::g.notices[i++];
            t = "?" + n.text;
            bool box = n.caption == "Tolvenar" && n.owner == nullptr;
            if (box && n.text == fake::kUsage && n.type == MB_ICONINFORMATION) t = "U";
            if (box && n.text.compare(0, fake::kFailure.size(), fake::kFailure) == 0 &&
                n.text.back() == '\n' && n.type == MB_ICONERROR)
                t = "F" + n.text.substr(fake::kFailure.size(), n.text.size() - fake::kFailure.size() - 1);
        }
        if (!t.empty()) s += (s.empty() ? "" : " ") + t;
    }
    return s;
}

TEST_F(Tool, WinMain)
{
    const char *const cases[][2] = {
        {nullptr, "U"},
        {"", "U"},
        {"notepad.exe", "U"},
        {"\"\"", "U"},
        {"\"notepad.exe IDLE", "U"},
        {"notepad.exe IDLE", "S set 100 64"},
        {"\"my app.EXE\" 0x8000", "S set 300 32768"},
        {"notepad.exe high", ""},
        {"notepad.exe 0", ""},
        {"other.exe IDLE", "S"},
        {"locked.exe IDLE", "S"},
        {"svc.exe REALTIME", "S set 500 256 F5"},
        {"crash.exe IDLE", "S set 900 64 F-1073741819"},
        {"notepad.exe HIGH extra", "U S set 100 128"}, // the list is read once the notice is gone
        {"svc.exe HIGH extra", "U S set 500 128 F5"}};
    for (const auto &c : cases) {
        SetUp();
        RunState.dwPriorityClass = HIGH_PRIORITY_CLASS; // whatever a previous run left
        RunState.hProcess = reinterpret_cast<HANDLE>(1);
        std::string tail = c[0] ? c[0] : "";
        EXPECT_EQ(WinMain(nullptr, nullptr, c[0] ? &tail[0] : nullptr, SW_SHOWDEFAULT), 0);
        EXPECT_EQ(Outline(), c[1]) << (c[0] ? c[0] : "(null)");
        EXPECT_EQ(RunState.lpModuleName, nullptr) << "the buffer is released";
    }
    SetUp();
    std::string tail = std::string(300, 'a') + " IDLE";
    WinMain(nullptr, nullptr, &tail[0], SW_SHOWDEFAULT);
    EXPECT_EQ(Outline(), "U");
}

} // namespace
