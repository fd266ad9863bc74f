// --trace on Windows: every write and read of the engine passes through the import slots of
// WriteFile and ReadFile, which this program fills with calls that do the real one and then
// hand what moved to the front end's trace.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <mutex>

#include "platform/hooks.h"

namespace {

std::mutex gTraceMutex;
platform::LinkTrace gTrace;

template <typename F>
F Kernel32(const char* name) {
    static HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

void Trace(platform::TraceDir dir, const void* data, DWORD moved, DWORD requested) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    if (gTrace) gTrace(dir, static_cast<const uint8_t*>(data), moved, requested, GetTickCount64());
}

BOOL WINAPI TracedWriteFile(HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) {
    static auto real = Kernel32<decltype(&WriteFile)>("WriteFile");
    if (o != nullptr) return real(h, data, n, written, o);  // never the engine's
    DWORD moved = 0;
    BOOL ok = real(h, data, n, &moved, o);
    if (written != nullptr) *written = moved;
    Trace(platform::TraceDir::Write, data, moved, n);
    return ok;
}

BOOL WINAPI TracedReadFile(HANDLE h, LPVOID data, DWORD n, LPDWORD read, LPOVERLAPPED o) {
    static auto real = Kernel32<decltype(&ReadFile)>("ReadFile");
    if (o != nullptr) return real(h, data, n, read, o);
    DWORD moved = 0;
    BOOL ok = real(h, data, n, &moved, o);
    if (read != nullptr) *read = moved;
    Trace(platform::TraceDir::Read, data, moved, n);
    return ok;
}

}  // namespace

extern "C" {
decltype(&WriteFile) __imp_WriteFile = &TracedWriteFile;
decltype(&ReadFile) __imp_ReadFile = &TracedReadFile;
}

namespace platform {

void SetLinkTrace(LinkTrace trace) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gTrace = std::move(trace);
}

}  // namespace platform

#endif  // _WIN32
