// The clock by which the engine times what happens on a link, in microseconds: the virtual
// clock for a virtual link (tests), a steady clock otherwise. Only differences mean anything.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#ifdef _WIN32
inline uint64_t LinkClockUs(HANDLE) {
    LARGE_INTEGER frequency, now;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&now))
        return GetTickCount64() * 1000;
    uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}
#else
uint64_t LinkClockUs(HANDLE h);
#endif
