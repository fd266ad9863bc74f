// The far end of the fuzz targets: the scripted peer of the tests, whose script is the fuzzer's
// input. Each host write takes the next piece: the first byte of each piece gives its length
// (its low seven bits; 0 = silence), bit 6 also delays the reply past a read's time-out, bit 7
// makes the write come up short; the bytes after it are the reply. When the input runs out the
// peer stays silent.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "platform/virtual.h"
#include "tests/support/scripted_peer.h"

inline std::shared_ptr<plctest::ScriptedPeer> FuzzPeer(const uint8_t* data, size_t size) {
    auto peer = std::make_shared<plctest::ScriptedPeer>();
    for (size_t pos = 0; pos < size;) {
        uint8_t control = data[pos++];
        size_t n = std::min<size_t>(control & 0x7F, size - pos);
        plctest::ScriptedPeer::Step step;
        step.reply.assign(reinterpret_cast<const char*>(data + pos), n);
        step.delayMs = control & 0x40 ? 3500 : 0;
        step.takesHalf = (control & 0x80) != 0;
        peer->Then(step);
        pos += n;
    }
    return peer;
}

// A broken invariant is a crash the fuzzer keeps as its finding.
inline void Expect(bool ok) {
    if (!ok) std::abort();
}

inline bool OneOf(uint8_t v, std::initializer_list<uint8_t> allowed) {
    for (uint8_t a : allowed)
        if (v == a) return true;
    return false;
}

// Opens the virtual link "fuzz" to a PLC that answers with the given bytes, as hSerial would be.
inline HANDLE OpenFuzzLink(const uint8_t* data, size_t size) {
    platform::RegisterVirtualLink("fuzz", FuzzPeer(data, size));
    HANDLE h = CreateFileA("fuzz", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    Expect(h != INVALID_HANDLE_VALUE);
    return h;
}
