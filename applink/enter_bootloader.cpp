#include <iterator>

#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

namespace {

const char* const kNoReply[] = {"QM2-C-V2", "QM2-C-V4", "TR2-CAR"};

// Error class  flow state  result, for a NAK left by the last read
const NakRule ENTER_BOOT_NAK_RULES[] = {
    {2, 3, ERR | FLOWERROR_STATE3},
    {2, 4, ERR | FLOWERROR_STATE4},
    {2, ANY_VALUE, ERR | FLOWERROR_STATE_UNKNOWN},
    {ANY_VALUE, ANY_VALUE, ERR | UNKNOWN_ERROR_CODE},
};

}  // namespace

// These PLCs restart into their bootloader without answering the request: a reply that does not
// arrive in full counts as accepted.
const ModelSet NO_REPLY_MODELS = {kNoReply, static_cast<int>(std::size(kNoReply))};

uint8_t SendErase_A(HANDLE hSerial) {
    uint8_t werrCounter = 0;
    uint8_t rerrCounter = 0;
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    const bool aio = SelectedPLCIn(AIO_MODELS);
    const char* request = aio ? FRAME_ENTER_BOOT_AIO : FRAME_ENTER_BOOT;
    const char* confirmation = aio ? FRAME_CONFIRM_AIO : FRAME_CONFIRM;
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    while (werrCounter <= APP_FAILURE_LIMIT && rerrCounter <= APP_FAILURE_LIMIT) {
        if (!WriteFrame(hSerial, request)) {
            CountFailure(&werrCounter);
            continue;
        }
        errCounter = rerrCounter;
        DWORD got = ReadReply(hSerial, rxBuf, REPLY_CHARS);
        if (got < REPLY_CHARS && SelectedPLCIn(NO_REPLY_MODELS)) {
            errCounter = 0;
            return OK;
        }
        if (ReplyIntact(rxBuf, got, REPLY_CHARS) && Decoded(rxBuf, 4) == ACK) {
            errCounter = 0;
            if (WriteFrame(hSerial, confirmation)) return OK;
            // A confirmation that did not go out whole is a failed write: the request again.
            CountFailure(&werrCounter);
            continue;
        }
        CountFailure(&rerrCounter);
    }
    return ClassifyLastReply(rxBuf, ENTER_BOOT_NAK_RULES, std::size(ENTER_BOOT_NAK_RULES));
}
