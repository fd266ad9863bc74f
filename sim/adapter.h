// A USB-serial adapter between the PLC and the host. Its chip keeps the bytes it received until
// its latency timer runs out, counted from the first of them, or until a USB packet's worth is
// waiting, and then hands all of them on at once: a one-byte acknowledgement waits the whole
// timer (16 ms by default on the common chips).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace plcsim {

// The payload of one USB packet of such a chip (64 bytes, two of them status).
constexpr size_t ADAPTER_PACKET_BYTES = 62;

// When the chip hands on the bytes waiting in it, in the order they came, at the times timeOf
// gives: latency after the first of them, or when the packet's last byte came, if earlier.
template <class Waiting, class TimeOf>
uint64_t AdapterReleaseAt(const Waiting& waiting, TimeOf timeOf, uint64_t latency) {
    uint64_t at = timeOf(waiting[0]) + latency;
    if (waiting.size() >= ADAPTER_PACKET_BYTES)
        at = std::min(at, timeOf(waiting[ADAPTER_PACKET_BYTES - 1]));
    return at;
}

}  // namespace plcsim
