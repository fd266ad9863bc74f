#include "bootloader/exchange.h"

#include "bootloader/bootloader.h"
#include "link/link.h"
#include "platform/clock.h"

bool WriteAll(HANDLE h, const void* tx, DWORD n) {
    // Only the byte count is judged, never the success flag of the call.
    DWORD written = 0;
    WriteFile(h, tx, n, &written, nullptr);
    return written == n;
}

uint8_t AckExchange(HANDLE h, const uint8_t* tx, DWORD n, unsigned options, uint32_t* sendBudget,
                    bool* unsettled, ExchangeTimes* times) {
    const RetryRules rules = {
        BOOT_RETRY_LIMIT, true,       (options & EXCHANGE_FIRST_FAILURE_ENDS) != 0,
        BOOT_TIMEOUT_MS,  sendBudget, unsettled};
    Verdict v = RetryExchange(
        h, rules,
        [&] {
            if (times == nullptr) return WriteAll(h, tx, n);
            times->writeBeganUs = LinkClockUs(h);
            bool whole = WriteAll(h, tx, n);
            times->writeEndedUs = LinkClockUs(h);
            return whole;
        },
        [&] {
            uint8_t rxChar = 0;
            DWORD got = 0;
            ReadFile(h, &rxChar, 1, &got, nullptr);
            if (times != nullptr) times->readEndedUs = LinkClockUs(h);
            if (got == 1 && rxChar == ACK) return VERDICT_ACCEPTED;
            if (got == 1 && rxChar == NOK && (options & EXCHANGE_NOK_ENDS)) return VERDICT_ENDS;
            return got == 1 && rxChar == NAK ? VERDICT_REFUSED : VERDICT_READ_FAILED;
        });
    return v == VERDICT_ACCEPTED ? OK : v == VERDICT_ENDS ? NOK : ERR;
}
