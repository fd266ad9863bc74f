// One record line: the run's fields as a JSON object, and how a finished run fills them in.
#include "record/record.h"

#include <cstdio>

#include "catalogue/report.h"
#include "catalogue/state.h"

namespace plcrecord {

namespace {

// A reported value as JSON: null when the PLC did not report it.
std::string Number(int32_t value) {
    return value == NOT_REPORTED ? "null" : std::to_string(value);
}
std::string HexOrNull(int32_t value) {
    return value == NOT_REPORTED ? "null" : JsonString(IdText(value));
}
std::string TextOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

std::string PlcObject(const PlcSeen& plc) {
    return std::string("{\"mode\":") + TextOrNull(ModeText(plc.probeResult)) +
           ",\"probe_result\":" + HexOrNull(plc.probeResult) +
           ",\"entered_bootloader\":" + (plc.enteredBootloader ? "true" : "false") +
           ",\"app_id\":" + HexOrNull(plc.appId) + ",\"boot_id\":" + HexOrNull(plc.bootId) +
           ",\"D1386\":" + Number(plc.D1386) + ",\"D1001\":" + Number(plc.D1001) +
           ",\"D1148\":" + Number(plc.D1148) + ",\"bootloader_version\":" +
           TextOrNull(plc.bootloaderVersion == NOT_REPORTED
                          ? ""
                          : BootloaderVersionText(plc.bootloaderVersion)) +
           "}";
}

}  // namespace

std::string StationFields(const RecordFields& r) {
    if (r.unit == 0) return "";
    return ",\"unit\":" + std::to_string(r.unit) +
           ",\"station_started\":" + JsonString(r.stationStarted);
}

PlcSeen TakePlcSeen() {
    PlcSeen p;
    p.probeResult = plcReport.probeResult;
    p.appId = plcReport.appId;
    p.bootId = plcReport.bootId;
    p.D1386 = plcReport.D1386;
    p.D1001 = plcReport.D1001;
    p.D1148 = plcReport.D1148;
    p.bootloaderVersion = plcReport.bootloaderVersion;
    p.enteredBootloader = plcReport.enteredBootloader != 0;
    p.blocksSent = plcReport.blocksSent;
    p.checksPassed = plcReport.checksPassed;
    p.turnaroundBlocks = plcReport.turnaroundBlocks;
    p.turnaroundMedianUs = plcReport.turnaroundMedianUs;
    p.turnaroundP95Us = plcReport.turnaroundP95Us;
    return p;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Bytes beyond ASCII are taken as Latin-1, so that any name stays valid JSON.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// ",\"turnaround_ms\":{\"median\":17.4,\"p95\":18.1}" for a run whose blocks' replies were
// measured; "" otherwise.
std::string TurnaroundField(const PlcSeen& plc) {
    if (plc.turnaroundBlocks <= 0 || plc.turnaroundMedianUs < 0 || plc.turnaroundP95Us < 0)
        return "";
    char text[80];
    std::snprintf(text, sizeof text, ",\"turnaround_ms\":{\"median\":%.1f,\"p95\":%.1f}",
                  plc.turnaroundMedianUs / 1000.0, plc.turnaroundP95Us / 1000.0);
    return text;
}

std::string RecordLine(const RecordFields& r) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", r.durationSeconds);
    return "{\"start\":" + JsonString(r.start) +
           ",\"tool\":\"plcfwupdate\",\"version\":" + JsonString(r.version) +
           ",\"action\":" + JsonString(r.action) + StationFields(r) +
           ",\"port\":" + JsonString(r.port) + ",\"model\":" + JsonString(r.model) +
           ",\"image\":{\"file\":" + JsonString(r.imageFile) +
           ",\"bytes\":" + std::to_string(r.imageBytes) +
           ",\"sha256\":" + JsonString(r.imageSha256) + "},\"plc\":" + PlcObject(r.plc) +
           ",\"blocks_sent\":" + std::to_string(r.plc.blocksSent) +
           ",\"blocks_total\":" + std::to_string(r.blocksTotal) + TurnaroundField(r.plc) +
           ",\"errors\":{\"last\":" + std::to_string(r.errors) +
           ",\"total\":" + std::to_string(r.totalErrors) +
           "},\"final\":{\"caption\":" + JsonString(r.caption) +
           ",\"message\":" + JsonString(r.message) + "}" +
           (r.outcome.empty() ? "" : ",\"outcome\":" + JsonString(r.outcome)) +
           ",\"exit_status\":" + std::to_string(r.exitStatus) + ",\"duration_s\":" + duration + "}";
}

void FinishFromReport(RecordFields* fields, std::chrono::steady_clock::time_point started) {
    const FinalMessage last = TakeFinalMessage();
    const bool shown = !last.caption.empty();
    fields->plc = TakePlcSeen();
    fields->caption = last.caption;
    fields->message = last.text;
    fields->errors = shown ? last.errors : static_cast<int32_t>(errCounter);
    fields->totalErrors = shown ? last.totalErrors : static_cast<int32_t>(totalErrCounter);
    fields->exitStatus = plcReport.outcome == OUTCOME_SUCCESS ? 0 : 1;
    const auto end = shown ? last.shownAt : std::chrono::steady_clock::now();
    fields->durationSeconds = std::chrono::duration<double>(end - started).count();
}

}  // namespace plcrecord
