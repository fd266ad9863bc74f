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

namespace {

// Which verdicts leave the line to settle: only a read that brought no whole reply, and an
// accepted reply after such a read. A whole refusal and a short write go out again at once.
struct SettleCase {
    const char* what;
    std::vector<Verdict> attempts;
    Verdict result;
    int settles;  // quiet seconds waited on a line that stays quiet
    bool unsettled;
};

const SettleCase kSettleCases[] = {
    {"refusals", {VERDICT_REFUSED, VERDICT_REFUSED, VERDICT_ACCEPTED}, VERDICT_ACCEPTED, 0, false},
    {"six refusals", std::vector<Verdict>(6, VERDICT_REFUSED), VERDICT_READ_FAILED, 0, false},
    {"a short write", {VERDICT_WRITE_FAILED, VERDICT_ACCEPTED}, VERDICT_ACCEPTED, 0, false},
    {"a failed read", {VERDICT_READ_FAILED, VERDICT_ACCEPTED}, VERDICT_ACCEPTED, 2, true},
    {"refused, then failed",
     {VERDICT_REFUSED, VERDICT_READ_FAILED, VERDICT_ACCEPTED},
     VERDICT_ACCEPTED,
     2,
     true},
    {"failed, then refused",
     {VERDICT_READ_FAILED, VERDICT_REFUSED, VERDICT_ACCEPTED},
     VERDICT_ACCEPTED,
     2,
     true},
    {"six failed reads", std::vector<Verdict>(6, VERDICT_READ_FAILED), VERDICT_READ_FAILED, 5,
     true},
    {"ended at once", {VERDICT_ENDS}, VERDICT_ENDS, 0, false},
};

TEST_F(LinkLayer, OnlyAReplyThatMayStillComeIsWaitedFor) {
    for (const SettleCase& c : kSettleCases) {
        SCOPED_TRACE(c.what);
        auto peer = std::make_shared<plctest::ScriptedPeer>();
        platform::RegisterVirtualLink("dev", peer);
        HANDLE h =
            CreateFileA("dev", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        bool unsettled = false;
        size_t next = 0;
        const RetryRules rules = {LINK_RETRY_LIMIT, false, false, 3000, nullptr, &unsettled};
        uint64_t before = platform::VirtualNowMs();
        auto write = [&] {
            if (c.attempts[next] != VERDICT_WRITE_FAILED) return true;
            ++next;
            return false;
        };
        Verdict v = RetryExchange(h, rules, write, [&] { return c.attempts[next++]; });
        EXPECT_EQ(v, c.result);
        EXPECT_EQ(next, c.attempts.size());
        EXPECT_EQ(platform::VirtualNowMs() - before, c.settles * Q);
        EXPECT_EQ(unsettled, c.unsettled);
        CloseHandle(h);
        platform::UnregisterVirtualLink("dev");
    }
}

// A line that never falls quiet ends the settle after a bounded number of reads; what has come
// by then is dropped all the same.
TEST_F(LinkLayer, SettleOnAFloodDropsWhatCame) {
    auto peer = std::make_shared<plctest::ScriptedPeer>();
    platform::VirtualLink& link = platform::RegisterVirtualLink("dev", peer);
    HANDLE h =
        CreateFileA("dev", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    link.Deliver(std::string(100 * DRAIN_READ_BYTES, '\x06'), platform::VirtualNowMs());
    SettleLine(h, 3000);
    EXPECT_EQ(link.PendingBytes(), 0u);
    CloseHandle(h);
    platform::UnregisterVirtualLink("dev");
}

}  // namespace

namespace {

// A reply that has half arrived when the host reads (a loaded PC) is still read whole, under
// the read rule of Windows' serial driver that the virtual link follows, for every total the
// engine reads with; a total of 0 takes only what is there.
struct SplitCase {
    DWORD totalMs;
    DWORD want;
    uint64_t secondPartMs;  // the first part is there at 0; the host reads at 10 ms
    DWORD got;
    uint64_t elapsedMs;  // from the read's start
};

// clang-format off
const SplitCase kSplitCases[] = {
    // total  want  second part  got  elapsed
    {3000,    19,   1500,        19,  1490},
    {200,     11,   150,         11,  140},
    {90,      64,   50,          19,  90},
    {Q,       64,   500,         19,  Q},
    {3000,    19,   3500,        10,  3000},
    {0,       19,   15,          10,  0},
};
// clang-format on

TEST_F(LinkLayer, AReplyThatHasHalfArrivedIsReadWhole) {
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(c.totalMs);
        platform::VirtualLink& link =
            platform::RegisterVirtualLink("dev", std::make_shared<plctest::ScriptedPeer>());
        HANDLE h =
            CreateFileA("dev", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetLinkTimeouts(h, c.totalMs);
        uint64_t now = platform::VirtualNowMs();
        const std::string reply = plctest::Reply19(ENQ);
        link.Deliver(reply.substr(0, 10), now);
        link.Deliver(reply.substr(10), now + c.secondPartMs);
        Sleep(10);
        char buf[64] = {};
        DWORD got = 0;
        uint64_t start = platform::VirtualNowMs();
        ReadFile(h, buf, c.want, &got, nullptr);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(platform::VirtualNowMs() - start, c.elapsedMs);
        CloseHandle(h);
        platform::UnregisterVirtualLink("dev");
    }
}

}  // namespace
