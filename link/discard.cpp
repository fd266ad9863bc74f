#include "link/link.h"

// A line that never falls quiet (noise, a babbling PLC) ends the settle after this many reads;
// the attempt then fails on its own.
#define SETTLE_MAX_READS 8
#define DRAIN_MAX_READS 64

namespace {

// Reads until a read brings nothing, at most maxReads times.
void ReadOff(HANDLE h, int maxReads) {
    uint8_t sink[DRAIN_READ_BYTES];
    for (int i = 0; i < maxReads; ++i) {
        DWORD got = 0;
        ReadFile(h, sink, sizeof sink, &got, nullptr);
        if (got == 0) return;
    }
}

}  // namespace

void DiscardInput(HANDLE h, DWORD timeoutMs) {
    if (PurgeComm(h, PURGE_RXCLEAR)) return;
    // Reads that take only what is there need time-outs of 0; a handle that refuses them too
    // would make every read wait, so its input is left to the settle after a failed read.
    if (!SetLinkTimeouts(h, 0)) return;
    ReadOff(h, DRAIN_MAX_READS);
    SetLinkTimeouts(h, timeoutMs);
}

void SettleLine(HANDLE h, DWORD timeoutMs) {
    // A handle that refuses the time-outs reads with its own: still bounded, only slower.
    SetLinkTimeouts(h, SETTLE_QUIET_MS);
    ReadOff(h, SETTLE_MAX_READS);
    SetLinkTimeouts(h, timeoutMs);
    DiscardInput(h, timeoutMs);
}

void DropLineGlitch(HANDLE h, DWORD quietMs, DWORD timeoutMs) {
    if (SetLinkTimeouts(h, quietMs)) {
        // Each read waits out quietMs unless a babbling line fills it first.
        uint8_t sink[DRAIN_READ_BYTES];
        DWORD got = sizeof sink;
        for (int i = 0; i < SETTLE_MAX_READS && got == sizeof sink; ++i) {
            got = 0;
            ReadFile(h, sink, sizeof sink, &got, nullptr);
        }
        SetLinkTimeouts(h, timeoutMs);
    }
    DiscardInput(h, timeoutMs);
}

bool LineStaysQuiet(HANDLE h, DWORD timeoutMs) {
    uint8_t sink[DRAIN_READ_BYTES];
    DWORD got = 0;
    SetLinkTimeouts(h, SETTLE_QUIET_MS);
    ReadFile(h, sink, sizeof sink, &got, nullptr);
    SetLinkTimeouts(h, timeoutMs);
    return got == 0;
}
