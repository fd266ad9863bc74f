// The simulator's view of a catalogue row: the flash page and block geometry, how the PLC comes
// back in its bootloader, and register values that pass the model's own compatibility rules.
#pragma once

#include <cstdint>
#include <string>

namespace plcsim {

// How the PLC restarts into its bootloader after the enter-bootloader request.
enum class Restart : uint8_t {
    AtOnce,      // right after the confirmation frame, on the same link
    Replug,      // USB-attached: leaves the bus until the link is closed and opened again
    PowerCycle,  // no reply to the request; bootloader only after a close and reopen
};

struct ModelTraits {
    const char* name;
    uint32_t catalogueIdx;
    uint16_t id;
    bool usb;
    bool aio;
    uint32_t pageBytes;   // flash erased by one "ERASE"
    uint32_t blockBytes;  // data bytes of one transfer block
    bool omitsLast4K;     // the host neither erases nor sends the image's last 4096 bytes
    Restart restart;
    uint16_t d1386, d1001, d1148;  // defaults that pass the model's compatibility rule
};

// The traits of the catalogue model of that name, or nullptr.
const ModelTraits* FindModel(const std::string& name);

}  // namespace plcsim
