#include "sim/requests.h"

namespace plcsim {

namespace {

// Kind               name
const char* const kNames[KIND_COUNT] = {
    "wakeup",        // Wakeup
    "probe",         // Probe
    "id",            // Id
    "d1386",         // D1386
    "d1001",         // D1001
    "d1148",         // D1148
    "register",      // Register
    "version",       // Version
    "id67",          // Id67
    "enter",         // Enter
    "confirm",       // Confirm
    "frame",         // Frame
    "bad-frame",     // BadFrame
    "boot-id",       // BootId
    "boot-version",  // BootVersion
    "erase",         // Erase
    "erase-eot",     // EraseEot
    "update",        // Update
    "block",         // Block
    "eot",           // Eot
    "junk",          // Junk
};

}  // namespace

const char* KindName(Kind k) {
    size_t i = static_cast<size_t>(k);
    return i < KIND_COUNT ? kNames[i] : "?";
}

bool KindFromName(const std::string& name, Kind* k) {
    for (size_t i = 0; i < KIND_COUNT; ++i) {
        if (name == kNames[i]) {
            *k = static_cast<Kind>(i);
            return true;
        }
    }
    return false;
}

std::string KindNames() {
    std::string out;
    for (size_t i = 0; i < KIND_COUNT; ++i) {
        if (i) out += ' ';
        out += kNames[i];
    }
    return out;
}

const char* PhaseName(Phase p) {
    switch (p) {
        case Phase::App: return "app";
        case Phase::Boot: return "boot";
        case Phase::Transfer: return "transfer";
    }
    return "?";
}

}  // namespace plcsim
