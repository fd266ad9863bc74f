// Every bootloader operation against a PLC that answers with the fuzzer's bytes, on small
// images of any length: results are only those the operation may return, the image cursor never
// leaves the image, and the progress stays within 0 to 100.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "fuzz/fuzz_peer.h"
#include "platform/resource_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    platform::SetVirtualSleep(true);
    SelectPLC(data[1] % PLC_COUNT);
    // Images of 0 to 8,191 bytes: around every page and block boundary that matters.
    size_t imageSize = (size_t{data[2]} << 8 | data[3]) & 0x1FFF;
    std::vector<unsigned char> image(imageSize, 0x5A);
    platform::SetResourceImage(image.data(), image.size());
    LoadImage();
    const unsigned char* begin = fin;
    HANDLE h = OpenFuzzLink(data + 4, size - 4);
    hSerial = h;
    errCounter = 0;
    totalErrCounter = 0;
    progress = 0;
    switch (data[0] % 5) {
        case 0: Expect(OneOf(CheckID_B(h), {OK, ERR})); break;
        case 1: Expect(OneOf(read_fu_version_B(), {OK, ERR})); break;
        case 2: Expect(OneOf(SendErase_B(h), {OK, ERR})); break;
        case 3: Expect(OneOf(SendUpdate(h), {OK, ERR})); break;
        default: {
            uint8_t r = SendFW(h);
            Expect(OneOf(r, {OK, ERR, NOK}));
            // Nothing to send is never a success.
            if (r == OK) Expect(fin > begin);
            break;
        }
    }
    Expect(begin == nullptr || (fin >= begin && fin <= begin + imageSize));
    Expect(progress >= 0 && progress <= 100);
    Expect(errCounter >= 0 && errCounter <= 6);
    CloseHandle(h);
    hSerial = INVALID_HANDLE_VALUE;
    CloseFile();
    platform::UnregisterVirtualLink("fuzz");
    platform::UseEmbeddedResourceImage();
    return 0;
}
