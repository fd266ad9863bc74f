// Every application-mode operation against a PLC that answers with the fuzzer's bytes: the
// result is always one the operation may return, the counters stay within their limits, and
// no reply, however malformed, reads or writes outside the buffers.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "applink/applink.h"
#include "catalogue/catalogue.h"
#include "fuzz/fuzz_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    platform::SetVirtualSleep(true);
    SelectPLC(data[1] % PLC_COUNT);
    HANDLE h = OpenFuzzLink(data + 2, size - 2);
    hSerial = h;
    errCounter = 0;
    totalErrCounter = 0;
    int32_t maxTotal = 11;
    switch (data[0] % 9) {
        case 0:
            Expect(OneOf(ConfirmComm(h), {ENQ, ACK, 0x11, 0x12, 0x15, 0x16, 0x17, 0x18}));
            break;
        case 1: Expect(OneOf(CheckID_A(h), {OK, 0x12, 0x13, 0x15, 0x17, 0x18})); break;
        case 2: READ_D1386(h); break;
        case 3: READ_D1001(h); break;
        case 4: READ_D1148(h); break;
        case 5: read_fu_version_A(); break;
        case 6:
            read_0x67_PLCID();
            maxTotal = 0;  // the id read counts nothing
            break;
        case 7: Expect(OneOf(SendErase_A(h), {OK, 0x13, 0x14, 0x15, 0x17, 0x18})); break;
        default:
            DummyComm(h);
            maxTotal = 0;
            break;
    }
    Expect(errCounter >= 0 && errCounter <= 6);
    Expect(totalErrCounter >= 0 && totalErrCounter <= maxTotal);
    CloseHandle(h);
    hSerial = INVALID_HANDLE_VALUE;
    platform::UnregisterVirtualLink("fuzz");
    return 0;
}
