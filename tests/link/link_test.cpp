// The link layer against a peer whose replies come on time, late, or not at all: what is dropped
// before a request, what the settle after a failed read drops, and what stays for the next read.
#include "link/link.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

struct DiscardCase {
    const char* what;
    unsigned refused;    // comm calls the link refuses
    uint64_t lateMs;     // a second reply, this much after the first (in flight at the call)
    bool settle;         // SettleLine instead of DiscardInput
    size_t leftForRead;  // bytes the next read still gets
    uint64_t elapsedMs;  // virtual time the call took
};

const uint64_t Q = SETTLE_QUIET_MS;

// clang-format off
const DiscardCase kCases[] = {
    // what                                          refused                          late    settle left elapsed
    {"purge drops what arrived, keeps what is due",  0,                               500,    false, 3,   0},
    {"a device without purge is read empty",         REFUSE_PURGE,                    500,    false, 3,   0},
    {"without purge or time-outs nothing is read",   REFUSE_PURGE | REFUSE_TIMEOUTS,  500,    false, 6,   0},
    {"the settle drops a reply that comes late",     0,                               500,    true,  0,   2 * Q},
    {"and waits for quiet, however long it comes",   0,                               Q - 1,  true,  0,   2 * Q},
    {"what comes after a quiet second stays",        0,                               2 * Q + 500, true, 3, 2 * Q},
};
// clang-format on

class LinkLayer : public plctest::EngineTest {};

TEST_F(LinkLayer, DiscardAndSettle) {
    for (const DiscardCase& c : kCases) {
        SCOPED_TRACE(c.what);
        auto peer = std::make_shared<plctest::ScriptedPeer>();
        platform::VirtualLink& link = platform::RegisterVirtualLink("dev", peer);
        HANDLE h =
            CreateFileA("dev", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetLinkTimeouts(h, 3000);
        link.RefuseCommCalls(c.refused);
        uint64_t now = platform::VirtualNowMs();
        link.Deliver("abc", now);
        link.Deliver("xyz", now + c.lateMs);
        if (c.settle)
            SettleLine(h, 3000);
        else
            DiscardInput(h, 3000);
        EXPECT_EQ(platform::VirtualNowMs() - now, c.elapsedMs);
        EXPECT_EQ(link.Timeouts().ReadTotalTimeoutConstant, 3000u);
        char buf[8] = {};
        DWORD got = 0;
        ReadFile(h, buf, sizeof buf, &got, nullptr);
        EXPECT_EQ(got, c.leftForRead);
        CloseHandle(h);
        platform::UnregisterVirtualLink("dev");
    }
}

}  // namespace
