// One whole update of the embedded image (StartBurn, RP200) into the simulated PLC on a virtual
// link, from the probe to the success message: the program scripts/bench runs under callgrind to
// count the host's instructions per image byte.
#include <cstdio>
#include <cstring>

#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"
#include "sim/sim.h"
#include "update/update.h"

int main() {
    platform::SetVirtualSleep(true);
    SelectPLC(ROW_RP200);
    SetLinkOverride("plc");
    auto plc = plcsim::Plc::Create(plcList[ROW_RP200]);
    plcsim::AttachVirtual(plc, "plc");
    const char* final = "";
    platform::FrontEndHooks hooks;
    hooks.messageBox = [&](HWND, const char* text, const char*, UINT) {
        final = text;
        return IDOK;
    };
    platform::SetFrontEndHooks(hooks);
    StartBurn(&paramStruct);
    size_t size = 0;
    const uint8_t* image = platform::EmbeddedImage(&size);
    bool ok = std::strstr(final, "SUCCESSFUL") != nullptr && image != nullptr &&
              plc->CompareFlash(image, size).equal;
    std::printf("image_bytes=%zu result=%s\n", size, ok ? "success" : final);
    return ok ? 0 : 1;
}
