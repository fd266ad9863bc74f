// Shared ground of the application-mode protocol tests: a scripted PLC on the virtual link
// "plc", opened into hSerial, with the reads, the virtual time and the counters observed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "applink/applink.h"
#include "catalogue/catalogue.h"
#include "platform/hooks.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace plctest {

// What the scripted PLC does, write by write.
struct Script {
    Script() = default;
    Script(std::vector<std::string> r, std::vector<std::pair<size_t, size_t>> s = {},
           bool refuse = false)
        : replies(std::move(r)), shortWrites(std::move(s)), refuseWrites(refuse) {}

    std::vector<std::string> replies;                    // one per write taken whole; "" = silence
    std::vector<std::pair<size_t, size_t>> shortWrites;  // {write index, bytes taken}
    bool refuseWrites = false;                           // takes no byte of any write
};

inline std::vector<std::string> Repeat(int n, const std::string& reply) {
    return std::vector<std::string>(static_cast<size_t>(n), reply);
}

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Counter values planted before each call, so that a test sees what the call wrote and what it
// left alone.
#define PLANTED_ERR_COUNTER 99
#define PLANTED_TOTAL_ERR_COUNTER 40

class ProtocolTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        peer = std::make_shared<ScriptedPeer>();
        link = &platform::RegisterVirtualLink("plc", peer);
        hSerial =
            CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(hSerial, INVALID_HANDLE_VALUE);
        errCounter = PLANTED_ERR_COUNTER;
        totalErrCounter = PLANTED_TOTAL_ERR_COUNTER;
        startMs = lastEventMs = platform::VirtualNowMs();
        platform::SetLinkTrace([this](platform::TraceDir dir, const uint8_t*, size_t,
                                      uint32_t requested, uint64_t ms) {
            bool settling = dir == platform::TraceDir::Read && requested == DRAIN_READ_BYTES;
            if (settling) {
                settleMs += ms - lastEventMs;
                ++settleReads;
            } else if (dir == platform::TraceDir::Read) {
                ++reads;
            }
            lastEventMs = ms;
        });
    }
    void TearDown() override {
        platform::SetLinkTrace(nullptr);
        EngineTest::TearDown();
    }

    void Play(const Script& s) {
        for (const auto& r : s.replies) peer->Then(r);
        for (const auto& [index, took] : s.shortWrites) peer->ShortWrite(index, took);
        if (s.refuseWrites) peer->AcceptNoBytes();
    }

    // Virtual time in the operation's own writes and reads; the settles after failed reads
    // (settleMs) are not in it.
    uint64_t ElapsedMs() const { return platform::VirtualNowMs() - startMs - settleMs; }
    int32_t TotalGrowth() const { return totalErrCounter - PLANTED_TOTAL_ERR_COUNTER; }

    std::shared_ptr<ScriptedPeer> peer;
    platform::VirtualLink* link = nullptr;
    int reads = 0;  // reads of a reply
    int settleReads = 0;
    uint64_t settleMs = 0;
    uint64_t startMs = 0;
    uint64_t lastEventMs = 0;
};

// The identity reply: ACK and the reported id in decoded bytes 5 and 6.
inline std::string IdentityReply(uint16_t id, bool lowerCase = false) {
    return Reply19(ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF),
                   lowerCase);
}

// A reply cut off after n characters.
inline std::string Cut(const std::string& reply, size_t n) {
    return reply.substr(0, n);
}

}  // namespace plctest
