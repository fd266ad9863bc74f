#include "bootloader/exchange.h"

#include "bootloader/bootloader.h"
#include "link/link.h"

bool WriteAll(HANDLE h, const void* tx, DWORD n) {
    // Only the byte count is judged, never the success flag of the call.
    DWORD written = 0;
    WriteFile(h, tx, n, &written, nullptr);
    return written == n;
}

uint8_t AckExchange(HANDLE h, const uint8_t* tx, DWORD n, unsigned options, uint32_t* sendBudget,
                    bool* unsettled) {
    const RetryRules rules = {
        BOOT_RETRY_LIMIT, true,       (options & EXCHANGE_FIRST_FAILURE_ENDS) != 0,
        BOOT_TIMEOUT_MS,  sendBudget, unsettled};
    Verdict v = RetryExchange(
        h, rules, [&] { return WriteAll(h, tx, n); },
        [&] {
            uint8_t rxChar = 0;
            DWORD got = 0;
            ReadFile(h, &rxChar, 1, &got, nullptr);
            if (got == 1 && rxChar == ACK) return VERDICT_ACCEPTED;
            if (got == 1 && rxChar == NOK && (options & EXCHANGE_NOK_ENDS)) return VERDICT_ENDS;
            return got == 1 && rxChar == NAK ? VERDICT_REFUSED : VERDICT_READ_FAILED;
        });
    return v == VERDICT_ACCEPTED ? OK : v == VERDICT_ENDS ? NOK : ERR;
}
