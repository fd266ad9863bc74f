#include <cstring>
#include <iterator>

#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

namespace {

// The application firmware answers ENQ, the bootloader ACK; anything else is a failed read.
bool IsModeAnswer(const uint8_t* rxBuf) {
    uint8_t status = Decoded(rxBuf, 4);
    return status == ENQ || status == ACK;
}

// Error class  flow state  result, for a NAK left by the last read
const NakRule PROBE_NAK_RULES[] = {
    {1, ANY_VALUE, ERR | RUNMODE},
    {2, 1, ERR | FLOWERROR_STATE1},
    {2, 2, ERR | FLOWERROR_STATE2},
    {2, ANY_VALUE, ERR | FLOWERROR_STATE_UNKNOWN},
    {ANY_VALUE, ANY_VALUE, ERR | UNKNOWN_ERROR_CODE},
};

}  // namespace

uint8_t ConfirmComm(HANDLE hSerial) {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    if (SelectedPLCIn(COM_PORT_MODELS)) SetupComLine(hSerial);
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    const Exchange probe = {SelectedPLCIn(AIO_MODELS) ? FRAME_PROBE_AIO : FRAME_PROBE, REPLY_CHARS,
                            IsModeAnswer, APP_FAILURE_LIMIT, true};
    if (RunExchange(hSerial, probe, rxBuf)) {
        errCounter = 0;
        return Decoded(rxBuf, 4);
    }
    return ClassifyLastReply(rxBuf, PROBE_NAK_RULES, std::size(PROBE_NAK_RULES));
}

bool SendProbeFrame(HANDLE hSerial) {
    return WriteFrame(hSerial, SelectedPLCIn(AIO_MODELS) ? FRAME_PROBE_AIO : FRAME_PROBE);
}

bool IsProbeReply(const uint8_t* text) {
    uint8_t rxBuf[RX_BUF_BYTES];
    std::memcpy(rxBuf, text, REPLY_CHARS);
    if (!ReplyIntact(rxBuf, REPLY_CHARS, REPLY_CHARS)) return false;
    uint8_t status = Decoded(rxBuf, 4);
    return Decoded(rxBuf, 1) == STATUS_FUNCTION &&
           (status == ENQ || status == ACK || status == NAK);
}
