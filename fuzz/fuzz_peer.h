// A far end that answers every host write with the next piece of the fuzzer's input: the first
// byte of each piece gives its length (0 = silence), the bytes after it are the reply. When the
// input runs out the peer stays silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include <memory>

#include "platform/virtual.h"

class FuzzPeer : public platform::VirtualPeer {
public:
    FuzzPeer(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t OnWrite(platform::VirtualLink& link, const uint8_t*, size_t len,
                   uint64_t nowMs) override {
        if (pos_ >= size_) return len;
        uint8_t control = data_[pos_++];
        // Bit 7 of the control byte makes this write come up short.
        size_t took = (control & 0x80) ? len / 2 : len;
        size_t n = control & 0x7F;
        if (n > size_ - pos_) n = size_ - pos_;
        if (n > 0) link.Deliver(data_ + pos_, n, nowMs + (control & 0x40 ? 3500 : 0));
        pos_ += n;
        return took;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

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
    platform::RegisterVirtualLink("fuzz", std::make_shared<FuzzPeer>(data, size));
    HANDLE h = CreateFileA("fuzz", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    Expect(h != INVALID_HANDLE_VALUE);
    return h;
}
