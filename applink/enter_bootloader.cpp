#include <iterator>

#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

namespace {

// Error class  flow state  result, for a NAK left by the last read
const NakRule ENTER_BOOT_NAK_RULES[] = {
    {2, 3, ERR | FLOWERROR_STATE3},
    {2, 4, ERR | FLOWERROR_STATE4},
    {2, ANY_VALUE, ERR | FLOWERROR_STATE_UNKNOWN},
    {ANY_VALUE, ANY_VALUE, ERR | UNKNOWN_ERROR_CODE},
};

}  // namespace

uint8_t SendErase_A(HANDLE hSerial) {
    uint8_t rxBuf[RX_BUF_BYTES] = {};
    const bool aio = SelectedPLCIn(AIO_MODELS);
    const char* request = aio ? FRAME_ENTER_BOOT_AIO : FRAME_ENTER_BOOT;
    const char* confirmation = aio ? FRAME_CONFIRM_AIO : FRAME_CONFIRM;
    SetLinkTimeouts(hSerial, READ_TIMEOUT_MS);
    const RetryRules rules = {APP_FAILURE_LIMIT, true, false, READ_TIMEOUT_MS, nullptr, nullptr};
    Verdict v = RetryExchange(
        hSerial, rules, [&] { return WriteFrame(hSerial, request); },
        [&] {
            DWORD got = ReadReply(hSerial, rxBuf, REPLY_CHARS);
            // These PLCs restart into their bootloader without answering the request.
            if (got < REPLY_CHARS && SelectedPLCIn(NO_REPLY_MODELS)) return VERDICT_ACCEPTED;
            if (!ReplyIntact(rxBuf, got, REPLY_CHARS)) return VERDICT_READ_FAILED;
            if (ReplyRefuses(rxBuf, REPLY_CHARS)) return VERDICT_REFUSED;
            if (Decoded(rxBuf, 4) != ACK) return VERDICT_READ_FAILED;
            errCounter = 0;
            // A confirmation that does not go out whole is a failed write: the request again.
            return WriteFrame(hSerial, confirmation) ? VERDICT_ACCEPTED : VERDICT_WRITE_FAILED;
        });
    if (v == VERDICT_ACCEPTED) {
        errCounter = 0;
        return OK;
    }
    return ClassifyLastReply(rxBuf, ENTER_BOOT_NAK_RULES, std::size(ENTER_BOOT_NAK_RULES));
}
