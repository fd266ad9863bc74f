// The kinds of request the simulated PLC tells apart (counters, faults and the log use them)
// and the phases it goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plcsim {

enum class Kind : uint8_t {
    Wakeup,       // ":007F81"
    Probe,        // mode probe, function 0x64 data 01
    Id,           // identity request, function 0x64 data "ID"
    D1386,        // register reads, function 0x03
    D1001,
    D1148,
    Register,     // any other data register
    Version,      // bootloader version request, function 0x64 data 05
    Id67,         // id read, function 0x67
    Enter,        // enter-bootloader request, function 0x64 data "ERASE"
    Confirm,      // its confirmation, function 0x64 data 06
    Frame,        // any other well-formed frame
    BadFrame,     // a frame with a bad LRC, lower-case or non-hex digits
    BootId,       // "ID"
    BootVersion,  // "VERSION"
    Erase,        // "ERASE"
    EraseEot,     // EOT closing the erase
    Update,       // "UPDATE"
    Block,        // one numbered data block
    Eot,          // EOT closing the transfer
    Junk,         // bytes that form no request
    Count
};
constexpr size_t KIND_COUNT = static_cast<size_t>(Kind::Count);

const char* KindName(Kind k);
// Accepts the names KindName gives; false for any other text.
bool KindFromName(const std::string& name, Kind* k);
// Every kind name, separated by blanks (for help texts).
std::string KindNames();

enum class Phase : uint8_t {
    App,       // application firmware
    Boot,      // bootloader taking commands
    Transfer,  // bootloader after "UPDATE": blocks at 115200 8N1
};
const char* PhaseName(Phase p);

}  // namespace plcsim
