// Reported values and times as the records and the messages write them.
#include <cstdio>

#include "catalogue/codes.h"
#include "catalogue/report.h"
#include "record/record.h"

namespace plcrecord {

std::string ModeText(int32_t probeResult) {
    if (probeResult == ENQ) return "application firmware";
    if (probeResult == ACK) return "bootloader";
    if (probeResult == NOT_REPORTED || (probeResult & 0x0F) == NORESPONSE) return "";
    if ((probeResult & 0x0F) == RUNMODE) return "application firmware in RUN mode";
    return "application firmware, refusing";
}

std::string IdText(int32_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id) & 0xFFFF);
    return text;
}

std::string BootloaderVersionText(int32_t version) {
    char text[8];
    std::snprintf(text, sizeof text, "V%d.%d", (version >> 4) & 0x0F, version & 0x0F);
    return text;
}

std::string UtcIsoTime(std::time_t t) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace plcrecord
