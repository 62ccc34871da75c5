// What each priority class becomes on Linux.
#pragma once

#include <stdint.h>

#include "Win32Api.h"

struct CLASS_SETTING {
    DWORD dwClass;
    int nNice;          // every thread's
    int nPolicy;        // every thread's but a real-time one's, or a batch one's under a class but IDLE
    uint64_t ullWeight; // the CPUWeight of a systemd unit the process holds alone
};

// The setting of a class, or null where the value is no class.
const CLASS_SETTING *Classes_Find(DWORD dwClass);
// Whether some class gives a unit that CPUWeight.
BOOL Classes_IsWeight(uint64_t ullWeight);
