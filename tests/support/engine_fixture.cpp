#include "tests/support/engine_fixture.h"

namespace plctest {

void ResetSharedState() {
    SelectPLC(17);
    ComSelidx = 0;
    totalComPort = 0;
    paramStruct = ParamStruct{reinterpret_cast<HWND>(0x1000), reinterpret_cast<HWND>(0x2000)};
    isFileChosed = 0;
    SetSelectedComPort("");
    hSerial = INVALID_HANDLE_VALUE;
    hGLOBAL = nullptr;
    fin = nullptr;
    fileLength = 0;
    flashStatus = IDLE;
    progress = 0;
    errCounter = 0;
    totalErrCounter = 0;
    elapsedTime = 0;
    RP_fu_version = 0;
    ClearPlcReport();
}

void EngineTest::SetUp() {
    platform::UnregisterAllVirtualLinks();
    platform::SetVirtualSleep(true);
    platform::UseEmbeddedResourceImage();
    ResetSharedState();
    events.clear();
    platform::FrontEndHooks hooks;
    hooks.messageBox = [this](HWND, const char* text, const char* caption, UINT type) {
        FrontEndEvent e{FrontEndEvent::MessageBox, text ? text : "", caption ? caption : "",
                        type, 0, FALSE, platform::VirtualNowMs()};
        events.push_back(e);
        if (onMessage) onMessage(e);
        return IDOK;
    };
    hooks.killTimer = [this](HWND, UINT_PTR id) {
        events.push_back({FrontEndEvent::KillTimer, "", "", 0, id, FALSE, platform::VirtualNowMs()});
        return TRUE;
    };
    hooks.enableWindow = [this](HWND, BOOL enable) {
        events.push_back(
            {FrontEndEvent::EnableWindow, "", "", 0, 0, enable, platform::VirtualNowMs()});
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
}

void EngineTest::TearDown() {
    if (hSerial != INVALID_HANDLE_VALUE) CloseHandle(hSerial);
    hSerial = INVALID_HANDLE_VALUE;
    platform::ClearFrontEndHooks();
    platform::UnregisterAllVirtualLinks();
    platform::UseEmbeddedResourceImage();
}

void EngineTest::Select(const char* model) {
    uint32_t idx = 0;
    ASSERT_TRUE(LookupPLC(model, &idx, nullptr)) << model;
    SelectPLC(idx);
}

std::vector<FrontEndEvent> EngineTest::Messages() const {
    std::vector<FrontEndEvent> out;
    for (const auto& e : events)
        if (e.kind == FrontEndEvent::MessageBox) out.push_back(e);
    return out;
}

}  // namespace plctest
