#include <iterator>

#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

namespace {

// A PLC of the selected id may also report a second id.
// Selected id  also accepted
const uint16_t ID_ALIASES[][2] = {
    {0x000C, 0x000D},  // QM2-TR2-V2, QM2-C-V2, QM2-TR2-V4, QM2-C-V4
    {0xA010, 0x3010},  // RP200-Z
};

bool IdMatches(uint16_t reported) {
    uint16_t selected = selectedPLCID;
    if (reported == selected) return true;
    for (const auto& alias : ID_ALIASES)
        if (alias[0] == selected && alias[1] == reported) return true;
    return false;
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
