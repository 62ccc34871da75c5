// The whole command-line path under libFuzzer: a raw command line through the
// start-up rule and the run flow, against a process table whose quirks the
// input picks. Byte 0 holds the quirks, the rest (up to a NUL) is the line.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "App.h"
#include "FakePlatform.h"
#include "RunState.h"

// Each check says what it found before it aborts.
#define CHECK(x, ...) ((x) ? (void)0 : (fprintf(stderr, __VA_ARGS__), fputc('\n', stderr), abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t quirks = data[0];
    const DWORD refusal =
        (const DWORD[]){5, 87, 1, 31, 0xC0000005, 0x80000000, 0x7FFFFFFF, 0xFFFFFFFF}[quirks >> 5];
    std::string line(reinterpret_cast<const char *>(data + 1), strnlen((const char *)data + 1, size - 1));

    fake::g = fake::World();
    // clang-format off
    fake::g.processes = {{4, "System", false}, {100, "notepad.exe"}, {101, "NOTEPAD.EXE"}, {102, "My App.exe"},
                         {103, ""}, {104, std::string(259, 'L')}, {105, "caf\xc9.exe"}, {106, "NULL", true, refusal}};
    // clang-format on
    fake::g.snapshots = quirks & 1 ? 0 : 1000;
    fake::g.processes[1].opens = !(quirks & 2);
    fake::g.processes[1].refuse = quirks & 4 ? refusal : 0;
    for (int i = 4; i < 7; i++) fake::g.processes[i].refuse = quirks & 8 ? refusal : 0;
    if (quirks & 16) std::reverse(fake::g.processes.begin(), fake::g.processes.end());

    std::memset(&RunState, 0, sizeof(RunState));
    int exit = WinMain(nullptr, nullptr, SkipProgramName(&line[0]), SW_SHOWDEFAULT);
    CHECK(exit == 0, "exit code %d, not 0", exit);
    CHECK(fake::g.open.empty() && fake::g.badCloses == 0,
          "%zu handles left open, %d closed that were not open", fake::g.open.size(), fake::g.badCloses);

    // At most one process opened, and changed; only the exact notices, the
    // usage notice before the process list is read and the failure notice
    // exactly when the changed process refused.
    int opens = 0, sets = 0;
    bool refused = false;
    const std::string failure = "failure notice " + std::to_string((int)refusal);
    for (size_t i = 0; i < fake::g.events.size(); i++) {
        const std::string &e = fake::g.events[i];
        opens += e.find("open") == 0;
        sets += e.find("set") == 0;
        for (const fake::Process &p : fake::g.processes)
            if (e.find("set " + std::to_string(p.pid) + " ") == 0) refused = p.refuse != 0;
        if (e.find("notice") != std::string::npos)
            CHECK(e == (i == 0 ? "usage notice" : failure) && (i == 0 || refused),
                  "\"%s\" at %zu, %s refusal", e.c_str(), i, refused ? "after a" : "without a");
    }
    CHECK(opens <= 1 && sets <= 1, "%d processes opened, %d changed", opens, sets);
    CHECK((!fake::g.events.empty() && fake::g.events.back() == failure) == refused,
          "the change %s refused, the last event is \"%s\"", refused ? "was" : "was not",
          fake::g.events.empty() ? "" : fake::g.events.back().c_str());
    return 0;
}
