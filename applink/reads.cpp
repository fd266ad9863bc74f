#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

// The id read runs before the first mode probe and must not show in the error counters; two
// failures of one kind are enough to give up, since the caller goes on without the id.
#define PLCID_FAILURE_LIMIT 1

namespace {

uint16_t DecodedWord(const uint8_t* rxBuf, int k) {
    return static_cast<uint16_t>(Decoded(rxBuf, k) << 8 | Decoded(rxBuf, k + 1));
}

// A data register: function 0x03, one register; the value is decoded bytes 3 (high) and 4.
uint16_t ReadRegister(HANDLE h, const char* request) {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    SetLinkTimeouts(h, READ_TIMEOUT_MS);
    const Exchange read = {request, REGISTER_REPLY_CHARS, nullptr, APP_FAILURE_LIMIT, true};
    return RunExchange(h, read, rxBuf) ? DecodedWord(rxBuf, 3) : 0;
}

}  // namespace

uint16_t READ_D1386(HANDLE hSerial) {
    return ReadRegister(hSerial, FRAME_READ_D1386);
}
uint16_t READ_D1001(HANDLE hSerial) {
    return ReadRegister(hSerial, FRAME_READ_D1001);
}
uint16_t READ_D1148(HANDLE hSerial) {
    return ReadRegister(hSerial, FRAME_READ_D1148);
}

// The version request carries group code 0x59 for every model, the AIO models included.
uint8_t read_fu_version_A() {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    const Exchange version = {FRAME_VERSION, REPLY_CHARS, nullptr, APP_FAILURE_LIMIT, true};
    return RunExchange(hSerial, version, rxBuf) ? Decoded(rxBuf, 4) : 0;
}

uint16_t read_0x67_PLCID() {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    const Exchange id = {FRAME_PLCID_0x67, REPLY_CHARS, nullptr, PLCID_FAILURE_LIMIT, false};
    return RunExchange(hSerial, id, rxBuf) ? DecodedWord(rxBuf, 3) : 0;
}
