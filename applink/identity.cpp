#include <iterator>

#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

namespace {

// A PLC of the selected model may also report the model's second id.
bool IdMatches(uint16_t reported) {
    const uint16_t alias = SelectedModel().aliasId;
    return reported == selectedPLCID || (alias != NO_ALIAS_ID && reported == alias);
}

bool IsOwnIdentity(const uint8_t* rxBuf) {
    if (Decoded(rxBuf, 4) != ACK) return false;
    uint16_t reported = static_cast<uint16_t>(Decoded(rxBuf, 5) << 8 | Decoded(rxBuf, 6));
    plcReport.appId = reported;
    return IdMatches(reported);
}

// Error class  flow state  result; unlike the probe there is no RUN-mode class here
const NakRule IDENTITY_NAK_RULES[] = {
    {2, 2, ERR | FLOWERROR_STATE2},
    {2, 3, ERR | FLOWERROR_STATE3},
    {2, ANY_VALUE, ERR | FLOWERROR_STATE_UNKNOWN},
    {ANY_VALUE, ANY_VALUE, ERR | UNKNOWN_ERROR_CODE},
};

}  // namespace

uint8_t CheckID_A(HANDLE hSerial) {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    const Exchange identity = {SelectedPLCIn(AIO_MODELS) ? FRAME_ID_AIO : FRAME_ID, REPLY_CHARS,
                               IsOwnIdentity, APP_FAILURE_LIMIT, true};
    if (RunExchange(hSerial, identity, rxBuf)) return OK;
    return ClassifyLastReply(rxBuf, IDENTITY_NAK_RULES, std::size(IDENTITY_NAK_RULES));
}
