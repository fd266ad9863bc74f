// "UPDATE" with the switch to the transfer line, then the image in numbered CRC-16 blocks and EOT.
#include <cstring>

#include "link/link.h"
#include "bootloader/bootloader.h"
#include "bootloader/exchange.h"
#include "bootloader/turnaround.h"

#define TRANSFER_BAUD 115200
#define BLOCK_HEADER_BYTES 3  // STX, packet number, its complement
#define BLOCK_CRC_BYTES 2
#define MAX_BLOCK_DATA_BYTES 256
#define MAX_PACKET_BYTES (BLOCK_HEADER_BYTES + MAX_BLOCK_DATA_BYTES + BLOCK_CRC_BYTES)
// A UART that changes its speed may leave a stray byte on the line within a block time or two
// of the change; the first block waits this long after the switch, and what came meanwhile is
// dropped, so that no such byte is taken for the first block's reply. Four block times of the
// larger block (about 91 ms at 115200 baud) with room for a USB adapter's latency.
#define SWITCH_GUARD_MS 100

uint8_t SendUpdate(HANDLE hSerial) {
    static const uint8_t txUpdate[] = REQUEST_UPDATE;
    SetLinkTimeouts(hSerial, BOOT_TIMEOUT_MS);
    if (AckExchange(hSerial, txUpdate, sizeof txUpdate - 1, 0) != OK) return ERR;
    // The bootloader listens at 115200 8N1 from its ACK on; every other line member stays.
    SetLineSettings(hSerial, TRANSFER_BAUD, 8, NOPARITY);
    DropLineGlitch(hSerial, SWITCH_GUARD_MS, BOOT_TIMEOUT_MS);
    errCounter = 0;
    return OK;
}

namespace {

uint8_t SendBlocks(HANDLE hSerial) {
    static const uint8_t txEot = EOT;
    uint8_t txBuf[MAX_PACKET_BYTES];
    uint8_t packetNum = 1;
    int32_t packetCounter = 0;
    SetLinkTimeouts(hSerial, BOOT_TIMEOUT_MS);
    uint32_t dataBytes = BlockDataBytes(selectedPLCIdx);
    DWORD packetBytes = BLOCK_HEADER_BYTES + dataBytes + BLOCK_CRC_BYTES;
    // Each block and its one-byte reply at the line's speed, which SendUpdate set.
    BeginTurnaround(WireTimeUs(packetBytes + 1, TRANSFER_BAUD));
    uint32_t leftToSend = ImageBytesSent(selectedPLCIdx, fileLength);
    int32_t totalPacket = static_cast<int32_t>(TransferBlockCount(selectedPLCIdx, fileLength));
    // Nothing to write (an empty image, or a 4 KiB-page model's image of 4096 bytes or less)
    // must not end in a transfer that reports success.
    if (totalPacket <= 0 || fin == nullptr) return ERR;
    uint8_t* data = txBuf + BLOCK_HEADER_BYTES;

    flashStatus = PROGRAM;
    progress = 0;
    ExchangeTimes times;
    bool unsettled = false;  // a block's read brought no whole reply
    for (int32_t i = 0; i < totalPacket; ++i) {
        txBuf[0] = STX;
        txBuf[1] = packetNum;
        txBuf[2] = static_cast<uint8_t>(~packetNum);
        // The cursor hands out at most what is left, so it never runs past the image.
        uint32_t imageBytes = leftToSend < dataBytes ? leftToSend : dataBytes;
        FileRead(data, static_cast<int32_t>(imageBytes));
        leftToSend -= imageBytes;
        for (uint32_t j = imageBytes; j < dataBytes; ++j) data[j] = SUB;
        uint32_t crc = CRC(data, dataBytes);
        data[dataBytes] = static_cast<uint8_t>((crc >> 8) & 0xFF);  // high byte first
        data[dataBytes + 1] = static_cast<uint8_t>(crc & 0xFF);
        errCounter = 0;
        // A block that is not acknowledged is sent again as it is, under its own number.
        uint8_t result = AckExchange(hSerial, txBuf, packetBytes, EXCHANGE_NOK_ENDS, nullptr,
                                     &unsettled, &times);
        if (result != OK) return result;
        CountTurnaround(times.writeBeganUs, times.writeEndedUs, times.readEndedUs);
        ++packetNum;
        ++packetCounter;
        plcReport.blocksSent = packetCounter;
        progress = packetCounter * 100 / (totalPacket + 1);
    }
    errCounter = 0;
    // A reply that did not come whole may have left the PLC's replies and the blocks out of step:
    // a reply that still comes now would have been taken for the next block's. Such a transfer
    // is not closed. Blocks refused with a whole NAK and sent again leave nothing on the way.
    if (unsettled && !LineStaysQuiet(hSerial, BOOT_TIMEOUT_MS)) return ERR;
    if (AckExchange(hSerial, &txEot, 1, 0) != OK) return ERR;
    progress = 100;
    errCounter = 0;
    return OK;
}

}  // namespace

uint8_t SendFW(HANDLE hSerial) {
    uint8_t result = SendBlocks(hSerial);
    // However the transfer ended, its figures are the ones of every block acknowledged.
    PublishTurnaround();
    return result;
}
