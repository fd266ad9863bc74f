// "ERASE" once per flash page, then EOT, with the phase and progress shown in the panel.
#include "link/link.h"
#include "bootloader/bootloader.h"
#include "bootloader/exchange.h"

#define MAX_ERASE_PAGES 0xFFFF  // the page counter is 16 bits wide

uint8_t SendErase_B(HANDLE hSerial) {
    static const uint8_t txErase[] = REQUEST_ERASE;
    static const uint8_t txChar = EOT;
    SetLinkTimeouts(hSerial, BOOT_TIMEOUT_MS);
    uint32_t pages = ErasePageCount(selectedPLCIdx, fileLength);
    // An image of which nothing would be written (empty, or too short for a 4 KiB-page model
    // that keeps its last 4096 bytes back) must not end in an erase that reports success.
    if (pages == 0 || pages > MAX_ERASE_PAGES) return ERR;
    uint16_t totalPages = static_cast<uint16_t>(pages);
    // A 4 KiB-page bootloader gets one chance per page: its first failure ends the erase.
    unsigned options = SelectedPLCIn(PAGE_4KIB_MODELS) ? EXCHANGE_FIRST_FAILURE_ENDS : 0;
    // "ERASE" carries no page number: the bootloader erases its next page for every request it
    // takes, a resent one too, when only the acknowledgement was lost. However the replies go,
    // no more requests that may have erased a page (all but those refused with NAK) go out than
    // the largest image of the model would erase, so the erase never reaches past the model's
    // flash region; a run that would need more ends in ERR.
    uint32_t erasesLeft = ErasePageCount(selectedPLCIdx, MaxImageBytes(selectedPLCIdx));

    flashStatus = ERASE;
    progress = 0;
    bool unsettled = false;  // a request's read brought no whole reply
    bool erased = true;
    NameRequests(ERASE_REQUEST_NAME);
    for (uint16_t page = 0; page < totalPages; ++page) {
        erased = AckExchange(hSerial, txErase, sizeof txErase - 1, options, &erasesLeft,
                             &unsettled) == OK;
        if (!erased) break;
        errCounter = 0;
        progress = page * 100 / static_cast<int32_t>(totalPages);
    }
    NameRequests(nullptr);
    if (!erased) return ERR;
    // A reply that did not come whole may have left the PLC's replies and the pages out of step.
    if (unsettled && !LineStaysQuiet(hSerial, BOOT_TIMEOUT_MS)) return ERR;
    if (AckExchange(hSerial, &txChar, 1, 0) != OK) return ERR;
    errCounter = 0;
    progress = 100;
    return OK;
}
