#include "applink/applink.h"

namespace {

// 0-15 for "0"-"9" and upper-case "A"-"F"; -1 for any other byte (lower case included: the
// PLC always answers in upper case, so anything else is a damaged reply).
int HexNibble(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

uint8_t CheckLRC(uint8_t* buf, uint8_t len) {
    uint8_t sum = 0;
    uint8_t* rd = buf;
    uint8_t* wr = buf;
    // The write position trails the read position, so decoding in place never overwrites a
    // character still to be read.
    for (int remaining = len; remaining > 0; remaining -= 2) {
        int hi = HexNibble(rd[0]);
        if (hi < 0) return 1;
        if (remaining < 2) return 1;
        int lo = HexNibble(rd[1]);
        if (lo < 0) return 1;
        rd += 2;
        uint8_t byte = static_cast<uint8_t>(hi * 16 + lo);
        *wr++ = byte;
        sum = static_cast<uint8_t>(sum + byte);
    }
    return sum;
}
