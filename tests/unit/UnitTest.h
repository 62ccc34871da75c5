// Shared fixture: every test starts with a cleared RunState and an empty
// fake process table.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FakePlatform.h"
#include "RunState.h"

class ToolTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake::Reset();
        std::memset(&RunState, 0, sizeof(RunState));
    }
    void TearDown() override
    {
        // Whatever path the tool took, it must not leave a handle open.
        EXPECT_EQ(fake::Get().liveHandles, 0);
        EXPECT_EQ(fake::Get().badCloses, 0);
        fake::Reset();
    }

    static void AddProcess(DWORD pid, const std::string &exe)
    {
        fake::Process p;
        p.pid = pid;
        p.exeFile = exe;
        fake::Get().processes.push_back(p);
    }
    static fake::Process &ProcessById(DWORD pid)
    {
        for (auto &p : fake::Get().processes)
            if (p.pid == pid)
                return p;
        std::abort();
    }
};
