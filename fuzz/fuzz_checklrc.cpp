// CheckLRC on any characters: never reads or writes outside the count it is given, and a
// result of 0 always means the decoded bytes sum to 0.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "applink/applink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 255) size = 255;
    std::vector<uint8_t> buf(data, data + size);  // exactly the count, so ASan sees any overrun
    uint8_t result = CheckLRC(buf.data(), static_cast<uint8_t>(size));
    if (result == 0) {
        uint8_t sum = 0;
        for (size_t i = 0; i < size / 2; ++i) sum = static_cast<uint8_t>(sum + buf[i]);
        if (sum != 0 || size % 2 != 0) std::abort();
    }
    return 0;
}
