// What the front end prints: the status line, the messages and the link trace.
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "cli/cli.h"

namespace plccli {

namespace {

// Status          word shown
const char* const PHASE_WORDS[] = {
    "Idle",         // IDLE
    "Erasing",      // ERASE
    "Programming",  // PROGRAM
};

const int BAR_WIDTH_CHARS = 30;
const int PHASE_WIDTH_CHARS = 11;  // "Programming"
const char RECONNECT_CAPTION[] = "Information";
const char RECONNECT_PREFIX[] = "Please";
const char SUCCESS_PREFIX[] = "Firmware update is SUCCESSFUL";

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

PanelSnapshot TakeSnapshot() {
    PanelSnapshot s;
    s.elapsed = elapsedTime;
    s.progress = progress;
    s.status = flashStatus;
    s.errors = errCounter;
    s.totalErrors = totalErrCounter;
    return s;
}

const char* PhaseName(int32_t status) {
    if (status < 0 || status >= static_cast<int32_t>(std::size(PHASE_WORDS))) return "";
    return PHASE_WORDS[status];
}

std::string StatusLine(const PanelSnapshot& s) {
    // The bar follows the percentage as the panel's does, kept inside its frame whatever the
    // value.
    int64_t shown = s.progress < 0 ? 0 : (s.progress > 100 ? 100 : s.progress);
    int filled = static_cast<int>(shown * BAR_WIDTH_CHARS / 100);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(BAR_WIDTH_CHARS - filled), '.');
    char line[160];
    std::snprintf(line, sizeof line, "%5d s [%s] %3d%%  %-*s  errors %d/%d", s.elapsed, bar.c_str(),
                  s.progress, PHASE_WIDTH_CHARS, PhaseName(s.status), s.errors, s.totalErrors);
    return line;
}

bool PlainLineDue(const PanelSnapshot& last, const PanelSnapshot& now) {
    return last.status != now.status || last.progress / 10 != now.progress / 10 ||
           last.errors != now.errors || last.totalErrors != now.totalErrors;
}

std::string MessageLine(const char* caption, const char* text) {
    return std::string("[") + (caption ? caption : "") + "] " + (text ? text : "");
}

bool IsReconnectPrompt(const char* caption, const char* text) {
    return caption != nullptr && std::strcmp(caption, RECONNECT_CAPTION) == 0 &&
           StartsWith(text, RECONNECT_PREFIX);
}

bool IsSuccessMessage(const char* text) {
    return StartsWith(text, SUCCESS_PREFIX);
}

std::string EscapeBytes(const uint8_t* data, size_t len) {
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        uint8_t b = data[i];
        switch (b) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (b >= 0x20 && b < 0x7F) {
                    out += static_cast<char>(b);
                } else {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", b);
                    out += hex;
                }
        }
    }
    return out;
}

std::string FormatTraceLine(bool write, const uint8_t* data, size_t len, uint32_t requested,
                            uint64_t ms, uint64_t baseMs) {
    uint64_t rel = ms >= baseMs ? ms - baseMs : 0;
    char head[64];
    char dir = write ? 'W' : 'R';
    auto sec = static_cast<unsigned long long>(rel / 1000);
    auto msPart = static_cast<unsigned long long>(rel % 1000);
    // A short write or read shows what was asked for as well.
    if (len == requested)
        std::snprintf(head, sizeof head, "%llu.%03llu %c %zu ", sec, msPart, dir, len);
    else
        std::snprintf(head, sizeof head, "%llu.%03llu %c %zu/%u ", sec, msPart, dir, len,
                      requested);
    return head + EscapeBytes(data, len);
}

}  // namespace plccli
