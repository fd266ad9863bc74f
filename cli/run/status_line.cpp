// The status panel as one line of text: elapsed time, bar, percentage, phase or step, the
// transfer's bytes, rate and time left, and the error counters, fitted to the terminal's width.
#include "cli/run/status_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "update/update.h"

namespace plccli {

namespace {

const int BAR_WIDTH_CHARS = 16;
const int PHASE_WIDTH_CHARS = 11;  // "Programming"
// Rates over less time are mostly the tick's jitter.
const std::chrono::duration<double> MIN_RATE_SPAN = std::chrono::seconds(1);
const uint64_t KIB = 1024;
const uint64_t MIB = 1024 * KIB;
const int64_t MAX_SHOWN_SECONDS_LEFT = 100 * 3600 - 1;

struct StepText {
    const char* name;      // in the status line
    const char* sentence;  // a line of its own, for -v
};

// clang-format off
// Step                      status line                sentence
const StepText STEP_TEXTS[STEP_COUNT] = {
    /* STEP_NONE */          {"",                        ""},
    /* CONNECTING */         {"connecting",              "connecting to the PLC"},
    /* IDENTIFYING */        {"identifying",             "identifying the PLC"},
    /* ENTERING_BOOTLOADER */{"entering bootloader",     "sending the PLC into its bootloader"},
    /* WAITING_FOR_REPLUG */ {"waiting for replug",      "waiting for the USB cable to be replugged"},
    /* WAITING_FOR_POWER_CYCLE */
                             {"waiting for power cycle", "waiting for the PLC to be powered off and on"},
    /* WAITING_FOR_RESTART */{"waiting for restart",     "waiting for the PLC to restart into its bootloader"},
    /* ERASING */            {"erasing",                 "erasing the flash"},
    /* PROGRAMMING */        {"programming",             "writing the image"},
    /* FINISHING */          {"finishing",               "every block written; finishing"},
};
// clang-format on

std::string RateText(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= static_cast<double>(MIB))
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / static_cast<double>(MIB));
    else
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / static_cast<double>(KIB));
    return text;
}

std::string TimeLeftText(int64_t seconds) {
    if (seconds > MAX_SHOWN_SECONDS_LEFT) seconds = MAX_SHOWN_SECONDS_LEFT;
    char text[32];
    long long h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    if (h > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left", h, m, sec);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld left", m, sec);
    return text;
}

// Bytes done of total, KiB from a MiB on to keep the line short.
std::string BytesText(const TransferFigures& t) {
    char text[64];
    if (t.totalBytes >= MIB)
        std::snprintf(text, sizeof text, "%llu/%llu KiB",
                      static_cast<unsigned long long>(t.doneBytes / KIB),
                      static_cast<unsigned long long>(t.totalBytes / KIB));
    else
        std::snprintf(text, sizeof text, "%llu/%llu B",
                      static_cast<unsigned long long>(t.doneBytes),
                      static_cast<unsigned long long>(t.totalBytes));
    return text;
}

std::string SecondsLeftText(const TransferFigures& t) {
    uint64_t left = t.totalBytes > t.doneBytes ? t.totalBytes - t.doneBytes : 0;
    double seconds = std::ceil(static_cast<double>(left) / t.bytesPerSecond);
    return TimeLeftText(static_cast<int64_t>(std::min(seconds, 1e9)));
}

// What one status line holds; a narrower terminal gets a later row of the fits.
struct LineFit {
    int barChars;
    bool bytes, rate, timeLeft, errors;
    bool padPhase;  // the phase word in a column of its own width
};
const int HALF_BAR = BAR_WIDTH_CHARS / 2;
// Until the run has an error, counts of none are the first to go: the rate and the time left
// say more.
// clang-format off
//                                   bar              bytes  rate   left   errors pad
const LineFit FITS_WITHOUT_ERRORS[] = {
    {BAR_WIDTH_CHARS, true,  true,  true,  true,  true},
    {BAR_WIDTH_CHARS, true,  true,  true,  false, true},
    {HALF_BAR,        true,  true,  true,  false, true},
    {HALF_BAR,        false, true,  true,  false, true},
    {HALF_BAR,        false, false, true,  false, true},
    {0,               false, false, true,  false, true},
    {0,               false, false, false, false, true},
    {0,               false, false, false, false, false},
};
// Once there is one, the error counts stay to the last.
const LineFit FITS_WITH_ERRORS[] = {
    {BAR_WIDTH_CHARS, true,  true,  true,  true,  true},
    {BAR_WIDTH_CHARS, true,  false, true,  true,  true},
    {BAR_WIDTH_CHARS, true,  false, false, true,  true},
    {BAR_WIDTH_CHARS, false, false, false, true,  true},
    {HALF_BAR,        false, false, false, true,  true},
    {0,               false, false, false, true,  true},
    {0,               false, false, false, true,  false},
};
// clang-format on

std::string ComposeLine(const PanelSnapshot& s, const TransferFigures& t, const LineFit& fit) {
    char text[160];
    std::snprintf(text, sizeof text, "%5d s", s.elapsed);
    std::string out = text;
    if (fit.barChars > 0) {
        // The bar follows the percentage as the panel's does, kept inside its frame whatever
        // the value.
        int64_t shown = s.progress < 0 ? 0 : (s.progress > 100 ? 100 : s.progress);
        int filled = static_cast<int>(shown * fit.barChars / 100);
        out += " [" + std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(fit.barChars - filled), '.') + "]";
    }
    // Before the erase the panel says "Idle" while the run connects, identifies and waits: the
    // step says more.
    bool flashing = s.status == ERASE || s.status == PROGRAM;
    const char* word = flashing || s.step == STEP_NONE ? PhaseName(s.status) : StepName(s.step);
    if (!flashing && s.awaitingUsbDevice) word = "waiting for the PLC's USB device";
    std::snprintf(text, sizeof text, " %3d%%  %-*s", s.progress,
                  fit.padPhase ? PHASE_WIDTH_CHARS : 0, word);
    out += text;
    if (s.status == PROGRAM && t.totalBytes > 0) {
        if (fit.bytes) out += "  " + BytesText(t);
        if (fit.rate && t.bytesPerSecond > 0) out += "  " + RateText(t.bytesPerSecond);
        if (fit.timeLeft && t.bytesPerSecond > 0) out += "  " + SecondsLeftText(t);
    }
    if (fit.errors) {
        std::snprintf(text, sizeof text, "  errors %d/%d", s.errors, s.totalErrors);
        out += text;
    }
    // The phase's column is padded for what follows it, not at the line's end.
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

template <size_t N>
bool Fit(const PanelSnapshot& s, const TransferFigures& t, size_t width, const LineFit (&fits)[N],
         std::string* line) {
    for (const LineFit& fit : fits) {
        *line = ComposeLine(s, t, fit);
        // The last column stays free: a terminal wraps after a character written there.
        if (width == 0 || line->size() < width) return true;
    }
    return false;
}

}  // namespace

PanelSnapshot TakeSnapshot() {
    PanelSnapshot s;
    s.elapsed = elapsedTime;
    s.progress = progress;
    s.status = flashStatus;
    s.errors = errCounter;
    s.totalErrors = totalErrCounter;
    s.step = plcReport.step;
    s.awaitingUsbDevice = AwaitingUsbDevice();
    return s;
}

const char* PhaseName(int32_t status) {
    const char* word = StatusWord(status);
    return word != nullptr ? word : "";
}

const char* StepName(int32_t step) {
    return step > STEP_NONE && step < STEP_COUNT ? STEP_TEXTS[step].name : "";
}

const char* StepSentence(int32_t step) {
    return step > STEP_NONE && step < STEP_COUNT ? STEP_TEXTS[step].sentence : "";
}

TransferFigures TakeTransfer() {
    TransferFigures t;
    const uint32_t idx = selectedPLCIdx;
    t.totalBytes = ImageBytesSent(idx, fileLength);
    const int32_t blocks = plcReport.blocksSent;
    uint64_t done = static_cast<uint64_t>(blocks > 0 ? blocks : 0) * BlockDataBytes(idx);
    t.doneBytes = done < t.totalBytes ? done : t.totalBytes;
    return t;
}

void TransferMeter::Sample(bool programming, uint64_t doneBytes, Clock::time_point at) {
    if (!programming) return;
    if (!started_) {
        started_ = true;
        first_ = lastMoved_ = at;
        firstBytes_ = lastBytes_ = doneBytes;
    }
    if (doneBytes != lastBytes_) lastMoved_ = at;
    lastBytes_ = doneBytes;
    lastSeen_ = at;
}

double TransferMeter::Rate() const {
    std::chrono::duration<double> span = lastSeen_ - first_;
    if (!started_ || span < MIN_RATE_SPAN || lastBytes_ <= firstBytes_) return 0;
    return static_cast<double>(lastBytes_ - firstBytes_) / span.count();
}

double TransferMeter::Seconds() const {
    std::chrono::duration<double> span = lastMoved_ - first_;
    if (!started_ || span.count() <= 0 || lastBytes_ <= firstBytes_) return 0;
    return span.count() * static_cast<double>(lastBytes_) /
           static_cast<double>(lastBytes_ - firstBytes_);
}

std::string StatusLine(const PanelSnapshot& s, const TransferFigures& t, size_t width) {
    std::string line;
    bool anyError = s.errors != 0 || s.totalErrors != 0;
    if (anyError ? Fit(s, t, width, FITS_WITH_ERRORS, &line)
                 : Fit(s, t, width, FITS_WITHOUT_ERRORS, &line))
        return line;
    line.resize(width > 1 ? width - 1 : 0);
    return line;
}

bool PlainLineDue(const PanelSnapshot& last, const PanelSnapshot& now) {
    return last.status != now.status || last.step != now.step ||
           last.progress / 10 != now.progress / 10 || last.errors != now.errors ||
           last.totalErrors != now.totalErrors;
}

std::string TransferSummary(uint64_t bytes, double seconds) {
    std::string line = "wrote " + std::to_string(bytes) + " bytes";
    if (seconds <= 0) return line;
    char tail[64];
    std::snprintf(tail, sizeof tail, " in %.1f s (%s)", seconds,
                  RateText(static_cast<double>(bytes) / seconds).c_str());
    return line + tail;
}

}  // namespace plccli
