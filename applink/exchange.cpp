#include "applink/exchange.h"

#include <cstring>

#include "applink/applink.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

static_assert(RX_BUF_BYTES >= 19, "a 0x64/0x67 reply must fit the receive buffer");

bool WriteFrame(HANDLE h, const char* frame) {
    DWORD chars = static_cast<DWORD>(std::strlen(frame));
    DWORD rxtxBytes = 0;  // a refused handle may leave the count untouched
    WriteFile(h, frame, chars, &rxtxBytes, nullptr);
    return rxtxBytes == chars;
}

DWORD ReadReply(HANDLE h, uint8_t rxBuf[RX_BUF_BYTES], uint8_t replyChars) {
    std::memset(rxBuf, 0, RX_BUF_BYTES);
    // Never more than the buffer holds, whatever the caller asks for and the PLC sends.
    DWORD want = replyChars < RX_BUF_BYTES ? replyChars : RX_BUF_BYTES;
    DWORD rxtxBytes = 0;
    ReadFile(h, rxBuf, want, &rxtxBytes, nullptr);
    return rxtxBytes <= want ? rxtxBytes : 0;
}

bool ReplyIntact(uint8_t rxBuf[RX_BUF_BYTES], DWORD got, uint8_t replyChars) {
    // ':' + hex pairs + CR LF: the pairs (LRC included) are the characters between.
    if (replyChars < 3 || replyChars > RX_BUF_BYTES || got != replyChars) return false;
    return CheckLRC(rxBuf + 1, static_cast<uint8_t>(replyChars - 3)) == 0;
}

namespace {

bool ExchangeWith(HANDLE h, const Exchange& x, const RetryRules& rules,
                  uint8_t rxBuf[RX_BUF_BYTES]) {
    std::memset(rxBuf, 0, RX_BUF_BYTES);
    Verdict v = RetryExchange(
        h, rules, [&] { return WriteFrame(h, x.request); },
        [&] {
            DWORD got = ReadReply(h, rxBuf, x.replyChars);
            if (!ReplyIntact(rxBuf, got, x.replyChars)) return VERDICT_READ_FAILED;
            if (x.accepts == nullptr || x.accepts(rxBuf)) return VERDICT_ACCEPTED;
            return ReplyRefuses(rxBuf, x.replyChars) ? VERDICT_REFUSED : VERDICT_READ_FAILED;
        });
    return v == VERDICT_ACCEPTED;
}

}  // namespace

bool RunExchange(HANDLE h, const Exchange& x, uint8_t rxBuf[RX_BUF_BYTES]) {
    const RetryRules rules = {x.failureLimit, x.counts, false, READ_TIMEOUT_MS, nullptr, nullptr};
    return ExchangeWith(h, x, rules, rxBuf);
}

bool ReplyRefuses(const uint8_t rxBuf[RX_BUF_BYTES], uint8_t replyChars) {
    return replyChars == REPLY_CHARS && Decoded(rxBuf, 1) == STATUS_FUNCTION &&
           Decoded(rxBuf, 4) == NAK;
}

uint8_t ClassifyLastReply(const uint8_t rxBuf[RX_BUF_BYTES], const NakRule* rules, size_t rows) {
    if (Decoded(rxBuf, 4) != NAK) return ERR | NORESPONSE;
    int errorClass = Decoded(rxBuf, 5);
    int flowState = Decoded(rxBuf, 6);
    for (size_t i = 0; i < rows; ++i) {
        const NakRule& r = rules[i];
        if ((r.errorClass == ANY_VALUE || r.errorClass == errorClass) &&
            (r.flowState == ANY_VALUE || r.flowState == flowState))
            return r.result;
    }
    return ERR | UNKNOWN_ERROR_CODE;
}
