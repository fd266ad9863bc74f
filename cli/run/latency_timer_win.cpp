// A COM port's USB-serial adapter: the latency timer its driver keeps under the port's device
// key ("Device Parameters", value LatencyTimer, as FTDI-style drivers do), which any user may
// read.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>
#include <setupapi.h>

#include <cctype>

#include "cli/run/slow_replies.h"

namespace plccli {

namespace {

// The setup class of COM and LPT ports.
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool SameName(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

// The timer in the device key when its PortName is port; -1 otherwise.
int32_t TimerOfKey(HKEY key, const std::string& port) {
    char name[64] = {};
    DWORD type = 0;
    DWORD size = sizeof name - 1;
    if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || !SameName(port, name))
        return -1;
    DWORD timer = 0;
    size = sizeof timer;
    if (RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&timer),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || timer > 255)
        return -1;
    return static_cast<int32_t>(timer);
}

}  // namespace

int32_t AdapterLatencyTimerMs(const std::string& portName) {
    std::string port = portName.rfind("\\\\.\\", 0) == 0 ? portName.substr(4) : portName;
    if (port.empty()) return -1;
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int32_t timer = -1;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; timer < 0 && SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        timer = TimerOfKey(key, port);
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return timer;
}

}  // namespace plccli

#endif  // _WIN32
