// -v: what the PLC reported in the run, in one line.
#include "catalogue/report.h"
#include "cli/command/texts.h"

namespace plccli {

std::string ReportSummary(const PlcSeen& plc, uint32_t blocksTotal) {
    std::string mode = ModeText(plc.probeResult);
    std::string line =
        "the PLC answered " + (mode.empty() ? std::string("nothing") : "from its " + mode);
    if (plc.enteredBootloader) line += ", sent there from its application firmware";
    if (plc.appId != NOT_REPORTED) line += "; id " + IdText(plc.appId);
    if (plc.bootId != NOT_REPORTED) line += "; bootloader id " + IdText(plc.bootId);
    if (plc.bootloaderVersion != NOT_REPORTED)
        line += "; bootloader " + BootloaderVersionText(plc.bootloaderVersion);
    for (const auto& [name, value] : {std::pair<const char*, int32_t>{"D1386", plc.D1386},
                                      {"D1001", plc.D1001},
                                      {"D1148", plc.D1148}})
        if (value != NOT_REPORTED) line += std::string("; ") + name + " " + std::to_string(value);
    return line + "; " + std::to_string(plc.blocksSent) + " of " + std::to_string(blocksTotal) +
           " blocks written";
}

}  // namespace plccli
