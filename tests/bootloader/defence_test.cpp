// The defences of the erase and the transfer against replies that are out of step with the
// requests: each row is a far end that only that defence catches, and the time a whole refusal
// costs (none beyond its resend).
#include "link/link.h"
#include "tests/bootloader/boot_fixture.h"

namespace {

using boottest::kAck;
using boottest::kNak;

const std::string kEot = plctest::Bytes({EOT});
const std::string kErase = "ERASE";
const uint64_t Q = SETTLE_QUIET_MS;

// A step whose reply comes a second time, this long after the first.
plctest::ScriptedPeer::Step Twice(const std::string& reply, uint64_t gapMs) {
    plctest::ScriptedPeer::Step s{reply};
    s.againAfterMs = gapMs;
    return s;
}

struct DefenceCase {
    const char* what;
    bool erase;                              // SendErase_B over PN2's 3 pages, else SendFW
    void (*script)(plctest::ScriptedPeer&);  // the transfer: NV, 16 blocks
    uint8_t result;
    size_t requests;  // ERASE requests or blocks sent
    size_t eotWrites;
    uint64_t elapsedMs;
    int resentBlock;  // the block that went out twice; 0: none (or the erase)
};

const DefenceCase kDefences[] = {
    // The discard before each request drops a repeated ACK: block 2's NAK is seen and answered.
    {"ACK twice, then a refused block", false,
     [](plctest::ScriptedPeer& p) { p.Then(kAck + kAck).Then(kNak).Otherwise(kAck); }, OK, 17, 1, 0,
     2},
    // A whole NAK is followed by the resend at once, and the transfer closes without a wait.
    {"refused last block", false,
     [](plctest::ScriptedPeer& p) { p.Times(15, kAck).Then(kNak).Otherwise(kAck); }, OK, 17, 1, 0,
     16},
    // After a silent attempt the accepted reply is settled (Q) and the line must then stay quiet
    // (Q): an ACK that still comes answers nothing the host sent, so EOT does not go out.
    {"silent last block, its ACK repeated late", false,
     [](plctest::ScriptedPeer& p) {
         p.Times(15, kAck).ThenSilence().Then(Twice(kAck, 1500)).Otherwise(kAck);
     },
     ERR, 17, 0, 3000 + 3 * Q, 16},
    {"silent last page, its ACK repeated late", true,
     [](plctest::ScriptedPeer& p) {
         p.Times(2, kAck).ThenSilence().Then(Twice(kAck, 1500)).Otherwise(kAck);
     },
     ERR, 4, 0, 3000 + 3 * Q, 0},
    {"refused page", true, [](plctest::ScriptedPeer& p) { p.Then(kNak).Otherwise(kAck); }, OK, 4, 1,
     0, 0},
};

class DefenceTest : public boottest::BootTest {};

TEST_F(DefenceTest, OutOfStepRepliesAreCaught) {
    for (const auto& c : kDefences) {
        SCOPED_TRACE(c.what);
        StartCase(c.erase ? "PN2" : "NV");
        UseImage(4096);
        auto& plc = Open();
        c.script(plc);
        uint64_t before = platform::VirtualNowMs();
        EXPECT_EQ(c.erase ? SendErase_B(hSerial) : SendFW(hSerial), c.result);
        EXPECT_EQ(platform::VirtualNowMs() - before, c.elapsedMs);
        EXPECT_EQ(plc.Count(c.erase ? kErase : REQ_BLOCK), c.requests);
        EXPECT_EQ(CountWrites(kEot), c.eotWrites);
        int resent = 0;
        for (size_t i = 1; i < plc.writes.size(); ++i)
            if (plc.requests[i] == REQ_BLOCK && plc.writes[i] == plc.writes[i - 1])
                resent = static_cast<uint8_t>(plc.writes[i][1]);
        EXPECT_EQ(resent, c.resentBlock);
    }
}

}  // namespace
