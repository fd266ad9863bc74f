#include "bootloader/exchange.h"

#include "catalogue/catalogue.h"

uint8_t AckExchange(HANDLE h, const uint8_t* tx, DWORD n, unsigned options) {
    uint8_t werrCounter = 0;
    uint8_t rerrCounter = 0;
    uint8_t rxChar = 0;
    DWORD rxtxBytes = 0;
    while (werrCounter <= BOOT_RETRY_LIMIT && rerrCounter <= BOOT_RETRY_LIMIT) {
        // Only the byte counts are judged, never the success flags of the calls.
        WriteFile(h, tx, n, &rxtxBytes, nullptr);
        if (rxtxBytes != n) {
            ++werrCounter;
            errCounter = werrCounter;
            ++totalErrCounter;
            if (options & EXCHANGE_FIRST_FAILURE_ENDS) return ERR;
            continue;
        }
        errCounter = rerrCounter;
        rxtxBytes = 0;
        ReadFile(h, &rxChar, 1, &rxtxBytes, nullptr);
        if (rxtxBytes == 1 && rxChar == ACK) return OK;
        if (rxtxBytes == 1 && rxChar == NOK && (options & EXCHANGE_NOK_ENDS)) return NOK;
        ++rerrCounter;
        errCounter = rerrCounter;
        ++totalErrCounter;
        if (options & EXCHANGE_FIRST_FAILURE_ENDS) return ERR;
    }
    return ERR;
}
