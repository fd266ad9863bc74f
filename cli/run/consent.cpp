// The operator's consent before the first request that changes the PLC.
#include "cli/run/consent.h"

#include <cctype>

#include "catalogue/catalogue.h"
#include "cli/run/info.h"

namespace plccli {

std::string ConsentPlcLine(const PlcSeen& plc) {
    bool boot = plc.probeResult == ACK;
    int32_t id = boot ? plc.bootId : plc.appId;
    std::string who = id == NOT_REPORTED ? std::string("a PLC")
                                         : ModelsWithId(id) + " (id " + IdText(id) + ")";
    return "PLC:   " + who + ", in " + (boot ? "bootloader" : "application") + " mode";
}

std::string ConsentPortLine(const std::string& port) {
    return "port:  " + port;
}

std::string ConsentImageLine(const ConsentImage& image) {
    std::string file = image.file.substr(image.file.find_last_of("/\\") + 1);
    return "image: " + file + ", " + std::to_string(image.bytes) + " bytes, SHA-256 " +
           image.sha256.substr(0, 12);
}

bool IsConsent(const std::string& answer) {
    size_t first = answer.find_first_not_of(" \t\r");
    if (first == std::string::npos) return false;
    std::string word = answer.substr(first, answer.find_last_not_of(" \t\r") + 1 - first);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "y" || word == "yes";
}

std::string NotUpdatedLine(Consent consent, const RunPoint& point) {
    return std::string("not updated: ") +
           (consent == Consent::ASK ? "the answer was not y"
                                    : "give --yes to update without asking") +
           "; " + PlcStateText(point);
}

}  // namespace plccli
