// The engine's message boxes, timer stop and button on Windows, brought to the console: the
// engine calls MessageBoxA, KillTimer and EnableWindow through their import slots, and this
// console program fills those slots itself, so the calls reach the front end's hooks as they do
// on POSIX through the platform layer.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <mutex>

#include "platform/hooks.h"

namespace {

std::mutex gHooksMutex;
platform::FrontEndHooks gHooks;

platform::FrontEndHooks CurrentHooks() {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    return gHooks;
}

int WINAPI ConsoleMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    auto hooks = CurrentHooks();
    return hooks.messageBox ? hooks.messageBox(owner, text, caption, type) : IDOK;
}

BOOL WINAPI ConsoleKillTimer(HWND hwnd, UINT_PTR id) {
    auto hooks = CurrentHooks();
    return hooks.killTimer ? hooks.killTimer(hwnd, id) : TRUE;
}

BOOL WINAPI ConsoleEnableWindow(HWND hwnd, BOOL enable) {
    auto hooks = CurrentHooks();
    return hooks.enableWindow ? hooks.enableWindow(hwnd, enable) : TRUE;
}

}  // namespace

// The import slots of user32 that the engine's calls go through; with them filled here the
// program needs no window station and imports nothing from user32 for them.
extern "C" {
decltype(&MessageBoxA) __imp_MessageBoxA = &ConsoleMessageBox;
decltype(&KillTimer) __imp_KillTimer = &ConsoleKillTimer;
decltype(&EnableWindow) __imp_EnableWindow = &ConsoleEnableWindow;
}

namespace platform {

void SetFrontEndHooks(FrontEndHooks hooks) {
    std::lock_guard<std::mutex> lock(gHooksMutex);
    gHooks = std::move(hooks);
}

void ClearFrontEndHooks() {
    SetFrontEndHooks(FrontEndHooks{});
}

}  // namespace platform

#endif  // _WIN32
