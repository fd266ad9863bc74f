// The bench window's settings in the user's part of the registry.
#include "benchwin/settings_win.h"

#include <windows.h>

namespace plcbench {

namespace {

const DWORD TEXT_BYTES = 4096;

std::string ReadText(HKEY key, const char* name, const std::string& otherwise) {
    char text[TEXT_BYTES];
    DWORD bytes = sizeof text;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ || bytes == 0)
        return otherwise;
    text[bytes < sizeof text ? bytes : sizeof text - 1] = '\0';
    return text;
}

bool WriteText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

Settings LoadSettings() {
    Settings s;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return s;
    s.ports = ReadText(key, "Ports", "");
    s.otherPorts = ReadText(key, "Other ports", "");
    s.recordFile = ReadText(key, "Record file", "");
    DWORD beep = 1, bytes = sizeof beep, type = 0;
    if (RegQueryValueExA(key, "Beep", nullptr, &type, reinterpret_cast<BYTE*>(&beep), &bytes) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        s.beep = beep != 0;
    RegCloseKey(key);
    return s;
}

bool SaveSettings(const Settings& s) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD beep = s.beep ? 1 : 0;
    bool ok = WriteText(key, "Ports", s.ports) && WriteText(key, "Other ports", s.otherPorts) &&
              WriteText(key, "Record file", s.recordFile) &&
              RegSetValueExA(key, "Beep", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&beep),
                             sizeof beep) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

}  // namespace plcbench
