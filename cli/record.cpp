// --record: one JSON line per run, appended to the record file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "cli/cli.h"

namespace plccli {

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
    return p;
}

std::string ModeText(int32_t probeResult) {
    if (probeResult == ENQ) return "application firmware";
    if (probeResult == ACK) return "bootloader";
    if (probeResult == NOT_REPORTED || (probeResult & 0x0F) == NORESPONSE) return "";
    if ((probeResult & 0x0F) == RUNMODE) return "application firmware in RUN mode";
    return "application firmware, refusing";
}

std::string BootloaderVersionText(int32_t version) {
    char text[8];
    std::snprintf(text, sizeof text, "V%d.%d", (version >> 4) & 0x0F, version & 0x0F);
    return text;
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

std::string RecordLine(const RecordFields& r) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", r.durationSeconds);
    return "{\"start\":" + JsonString(r.start) +
           ",\"tool\":\"plcfwupdate\",\"version\":" + JsonString(r.version) +
           ",\"action\":" + JsonString(r.action) + ",\"port\":" + JsonString(r.port) +
           ",\"model\":" + JsonString(r.model) + ",\"image\":{\"file\":" + JsonString(r.imageFile) +
           ",\"bytes\":" + std::to_string(r.imageBytes) +
           ",\"sha256\":" + JsonString(r.imageSha256) + "},\"plc\":" + PlcObject(r.plc) +
           ",\"blocks_sent\":" + std::to_string(r.plc.blocksSent) +
           ",\"blocks_total\":" + std::to_string(r.blocksTotal) +
           ",\"errors\":{\"last\":" + std::to_string(r.errors) +
           ",\"total\":" + std::to_string(r.totalErrors) +
           "},\"final\":{\"caption\":" + JsonString(r.caption) +
           ",\"message\":" + JsonString(r.message) +
           "},\"exit_status\":" + std::to_string(r.exitStatus) + ",\"duration_s\":" + duration +
           "}";
}

bool RunRecorder::Open(const std::string& path, std::string* error) {
    file_ = std::make_unique<std::ofstream>(path, std::ios::app);
    if (!*file_) {
        *error = "cannot write the record file '" + path + "': " + std::strerror(errno);
        file_.reset();
        return false;
    }
    return true;
}

void RunRecorder::Start(const RecordFields& fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_ = fields;
    started_ = std::chrono::steady_clock::now();
    written_ = false;
}

void RunRecorder::Finish(const RunOutcome& outcome, int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || written_) return;
    written_ = true;
    fields_.plc = TakePlcSeen();
    fields_.caption = outcome.caption;
    fields_.message = outcome.text;
    fields_.errors = outcome.errors;
    fields_.totalErrors = outcome.totalErrors;
    fields_.exitStatus = exitStatus;
    fields_.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    // The whole line in one write to a file opened for appending: the processes of an update of
    // several ports append to the same file, and their lines must not interleave.
    std::string line = RecordLine(fields_) + '\n';
    file_->write(line.data(), static_cast<std::streamsize>(line.size()));
    file_->flush();
}

}  // namespace plccli
