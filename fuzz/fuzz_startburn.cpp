// A whole update run against a PLC that answers with the fuzzer's bytes: the run always ends,
// with a final message, the button enabled again, the link closed and the image released.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/catalogue.h"
#include "fuzz/fuzz_peer.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "update/update.h"

namespace {

struct Seen {
    int messages = 0;
    bool lastEnable = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    platform::SetVirtualSleep(true);
    SelectPLC(data[0] % PLC_COUNT);
    SetSelectedComPort("fuzz");
    SetLinkOverride("fuzz");
    size_t imageSize = (size_t{data[1]} << 8 | data[2]) & 0x3FFF;
    std::vector<unsigned char> image(imageSize, 0xA5);
    platform::SetResourceImage(image.data(), image.size());
    auto peer = FuzzPeer(data + 3, size - 3);
    platform::RegisterVirtualLink("fuzz", peer);

    Seen seen;
    platform::FrontEndHooks hooks;
    hooks.messageBox = [&](HWND, const char* text, const char* caption, UINT) {
        Expect(text != nullptr && caption != nullptr && std::strlen(text) > 0);
        ++seen.messages;
        return IDOK;
    };
    hooks.enableWindow = [&](HWND, BOOL enable) {
        seen.lastEnable = enable != FALSE;
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
    paramStruct = ParamStruct{reinterpret_cast<HWND>(1), reinterpret_cast<HWND>(2)};

    StartBurn(&paramStruct);

    Expect(seen.messages >= 1);
    Expect(seen.lastEnable);
    Expect(platform::OpenHandleCount() == 0);
    Expect(platform::LoadedResourceCount() == 0);
    Expect(flashStatus == IDLE && progress == 0 && errCounter == 0 && totalErrCounter == 0);
    platform::ClearFrontEndHooks();
    platform::UnregisterVirtualLink("fuzz");
    platform::UseEmbeddedResourceImage();
    SetLinkOverride(nullptr);
    return 0;
}
