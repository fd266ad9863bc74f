// What the bench window remembers between runs, per user (HKCU): the ports checked, the ports
// typed, the record file and whether a result beeps.
#pragma once

#include <string>

namespace plcbench {

// The key under HKEY_CURRENT_USER.
const char SETTINGS_KEY[] = "Software\\Korvel\\PLC Firmware Bench";

struct Settings {
    std::string ports;       // the checked ports, JoinPorts
    std::string otherPorts;  // as typed
    std::string recordFile;  // "" until one was used
    bool beep = true;
};

// The user's settings; the defaults for those never saved.
Settings LoadSettings();
// False when they could not be written (the bench runs regardless).
bool SaveSettings(const Settings& s);

}  // namespace plcbench
