// The class table: each class's nice, policy and unit weight.
#include <sched.h>

#include "Classes.h"

// A unit's weight is the one the kernel gives a thread of the class's nice,
// on cgroup v2's scale (1024 there is 100 here): the unit as a whole gets
// what one thread would. NORMAL gives systemd's default rather than none: a
// unit that drops its weight can make systemd take the cpu controller from
// its slice, and so from its siblings. 0 is CPUWeight=idle.
// clang-format off
static const CLASS_SETTING Settings[] = {
    {IDLE_PRIORITY_CLASS,         19,  SCHED_IDLE,  0},
    {BELOW_NORMAL_PRIORITY_CLASS, 10,  SCHED_OTHER, 11},   // 110 * 100 / 1024
    {NORMAL_PRIORITY_CLASS,       0,   SCHED_OTHER, 100},
    {ABOVE_NORMAL_PRIORITY_CLASS, -6,  SCHED_OTHER, 381},  // 3906
    {HIGH_PRIORITY_CLASS,         -11, SCHED_OTHER, 1164}, // 11916
    // No real-time scheduling here, which could starve the system: the
    // strongest nice short of the limit stands in for it.
    {REALTIME_PRIORITY_CLASS,     -19, SCHED_OTHER, 7007}, // 71755
};
// clang-format on

const CLASS_SETTING *Classes_Find(DWORD dwClass)
{
    for (size_t i = 0; i < sizeof(Settings) / sizeof(Settings[0]); i++)
        if (Settings[i].dwClass == dwClass)
            return &Settings[i];
    return NULL;
}

BOOL Classes_IsWeight(uint64_t ullWeight)
{
    for (size_t i = 0; i < sizeof(Settings) / sizeof(Settings[0]); i++)
        if (Settings[i].ullWeight == ullWeight)
            return TRUE;
    return FALSE;
}
