// One whole transfer of the embedded image with RP200 against an acknowledging PLC: the program
// that scripts/bench-transfer runs under callgrind to count instructions per image byte.
#include <cstdio>

#include "bench/ack_peer.h"

int main() {
    auto peer = benchsupport::OpenAckLink(plcList[ROW_RP200]);
    if (hSerial == INVALID_HANDLE_VALUE || !LoadImage()) {
        std::fprintf(stderr, "transfer_once: no link or no embedded image\n");
        return 1;
    }
    uint8_t result = SendFW(hSerial);
    std::printf("image_bytes=%u result=0x%02X writes=%ld\n", static_cast<unsigned>(fileLength),
                result, peer->writes);
    CloseFile();
    CloseHandle(hSerial);
    return result == OK ? 0 : 1;
}
