// A PLC that takes every write whole and acknowledges it at once, so that a measurement of the
// transfer sees the host's own work and the link layer, never a wait.
#pragma once

#include <memory>
#include <string>

#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "platform/virtual.h"

namespace benchsupport {

class AckPeer : public platform::VirtualPeer {
  public:
    size_t OnWrite(platform::VirtualLink& link, const uint8_t*, size_t len,
                   uint64_t nowMs) override {
        static const uint8_t ack = ACK;
        link.Deliver(&ack, 1, nowMs);
        ++writes;
        return len;
    }
    long writes = 0;
};

// Selects the model, opens a link to an acknowledging PLC as hSerial and returns the peer.
inline std::shared_ptr<AckPeer> OpenAckLink(const char* model) {
    uint32_t idx = 0;
    LookupPLC(model, &idx, nullptr);
    SelectPLC(idx);
    platform::SetVirtualSleep(true);
    auto peer = std::make_shared<AckPeer>();
    platform::RegisterVirtualLink("bench", peer);
    hSerial =
        CreateFileA("bench", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return peer;
}

}  // namespace benchsupport
