// Drives the simulator's core directly (no link): requests in, replies out, on a fake clock.
#pragma once

#include <string>
#include <vector>

#include "catalogue/codes.h"
#include "sim/sim.h"

namespace simtest {

inline plcsim::HostLine LineOf(uint32_t baud, uint8_t bits, uint8_t parity, bool known = true) {
    plcsim::HostLine l;
    l.line.baud = baud;
    l.line.byteSize = bits;
    l.line.parity = parity;
    l.line.stopBits = ONESTOPBIT;
    l.framingKnown = known;
    return l;
}
inline plcsim::HostLine AppLine() { return LineOf(9600, 7, EVENPARITY); }
inline plcsim::HostLine FastLine() { return LineOf(115200, 8, NOPARITY); }

struct Harness {
    std::shared_ptr<plcsim::Plc> plc;
    uint64_t nowMs = 0;
    plcsim::HostLine line = AppLine();
    size_t lastTaken = 0;

    explicit Harness(const plcsim::Config& cfg) : plc(std::make_shared<plcsim::Plc>(cfg)) {}
    explicit Harness(const char* model) : plc(plcsim::Plc::Create(model)) {}

    // Writes the request and returns every reply byte it caused (times in `times`).
    std::string Ask(const std::string& request, std::vector<uint64_t>* times = nullptr) {
        std::vector<plcsim::TimedByte> out;
        lastTaken = plc->Write(reinterpret_cast<const uint8_t*>(request.data()), request.size(),
                               nowMs, line, &out);
        std::string reply;
        for (const auto& b : out) {
            reply += static_cast<char>(b.byte);
            if (times) times->push_back(b.atMs);
        }
        nowMs += 10;
        return reply;
    }
    // Erase pages, close the erase and start the transfer on the fast line.
    void ToTransfer(uint32_t pages) {
        for (uint32_t i = 0; i < pages; ++i) Ask("ERASE");
        Ask("\x04");
        Ask("UPDATE");
        line = FastLine();
    }
};

}  // namespace simtest
