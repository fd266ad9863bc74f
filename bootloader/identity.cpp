// "ID" and "VERSION": the bootloader's identity and version, each answered by ACK and two bytes.
#include "link/link.h"
#include "bootloader/bootloader.h"
#include "bootloader/exchange.h"

#define BOOT_REPLY_BYTES 3
#define COM_PORT_ID_MASK 0x7FFF  // bit 15 of a COM-port model's catalogue id is not reported

namespace {

// Whether the identity rule of the selected model accepts the reported id; *keepErrCounter tells
// that errCounter keeps the value of the read on success.
bool IdAccepted(uint16_t id, bool* keepErrCounter) {
    const PlcModel& model = SelectedModel();
    const uint16_t expected = selectedPLCID;
    const bool hasAlias = model.aliasId != NO_ALIAS_ID;
    // The COM-port models with a second id (the QM2 group) leave errCounter as the read set it.
    *keepErrCounter = hasAlias && model.link == LINK_COM;
    if (hasAlias) return id == expected || id == model.aliasId;
    if (model.link == LINK_USB) return id == expected;
    return id == (expected & COM_PORT_ID_MASK);
}

// Writes the request and reads the 3-byte reply until the reply starts with ACK and passes the
// test, or a retry counter passes its limit (ERR).
uint8_t BootRequest(HANDLE h, const char* request, DWORD n, bool (*accept)(const uint8_t* rxBuf)) {
    SetLinkTimeouts(h, BOOT_TIMEOUT_MS);
    const RetryRules rules = {BOOT_RETRY_LIMIT, true, false, BOOT_TIMEOUT_MS, nullptr, nullptr};
    Verdict v = RetryExchange(
        h, rules, [&] { return WriteAll(h, request, n); },
        [&] {
            uint8_t rxBuf[BOOT_REPLY_BYTES] = {};
            DWORD got = 0;
            ReadFile(h, rxBuf, BOOT_REPLY_BYTES, &got, nullptr);
            bool accepted = got == BOOT_REPLY_BYTES && rxBuf[0] == ACK && accept(rxBuf);
            return accepted ? VERDICT_ACCEPTED : VERDICT_READ_FAILED;
        });
    return v == VERDICT_ACCEPTED ? OK : ERR;
}

bool AcceptId(const uint8_t* rxBuf) {
    uint16_t id = static_cast<uint16_t>(rxBuf[1] << 8 | rxBuf[2]);  // high byte first
    plcReport.bootId = id;
    bool keepErrCounter = false;
    if (!IdAccepted(id, &keepErrCounter)) return false;
    if (!keepErrCounter) errCounter = 0;
    return true;
}

bool AcceptVersion(const uint8_t* rxBuf) {
    // Low nibble of the first byte, then high nibble of the second.
    RP_fu_version = static_cast<uint8_t>((rxBuf[1] << 4) + (rxBuf[2] >> 4));
    errCounter = 0;
    return true;
}

}  // namespace

uint8_t CheckID_B(HANDLE hSerial) {
    return BootRequest(hSerial, REQUEST_ID, sizeof REQUEST_ID - 1, AcceptId);
}

uint8_t read_fu_version_B() {
    return BootRequest(hSerial, REQUEST_VERSION, sizeof REQUEST_VERSION - 1, AcceptVersion);
}
