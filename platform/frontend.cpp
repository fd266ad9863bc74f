// MessageBoxA, KillTimer and EnableWindow forwarded to the front end; Sleep on the real or the
// virtual clock; _beginthread as a detached thread.
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/hooks.h"
#include "platform/link.h"
#include "platform/virtual.h"

namespace platform {

namespace {

std::mutex gHooksMutex;
FrontEndHooks gHooks;

FrontEndHooks CurrentHooks() {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    return gHooks;
}

}  // namespace

void SetFrontEndHooks(FrontEndHooks hooks) {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    gHooks = std::move(hooks);
}

void ClearFrontEndHooks() {
    SetFrontEndHooks(FrontEndHooks{});
}

}  // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    auto hooks = platform::CurrentHooks();
    return hooks.messageBox ? hooks.messageBox(owner, text, caption, type) : IDOK;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto hooks = platform::CurrentHooks();
    return hooks.killTimer ? hooks.killTimer(hwnd, id) : TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    auto hooks = platform::CurrentHooks();
    return hooks.enableWindow ? hooks.enableWindow(hwnd, enable) : TRUE;
}

void Sleep(DWORD ms) {
    platform::LinkEvent pause;
    pause.kind = platform::LinkEventKind::Pause;
    pause.pauseMs = ms;
    platform::RaiseLinkEvent(pause, platform::EventNowMs());
    if (platform::VirtualSleepEnabled())
        platform::AdvanceVirtualClock(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uintptr_t _beginthread(void (*start)(void*), unsigned, void* arg) {
    try {
        std::thread(start, arg).detach();
        return 1;
    } catch (...) {
        return static_cast<uintptr_t>(-1);
    }
}
