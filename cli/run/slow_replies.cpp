#include "cli/run/slow_replies.h"

#include <cmath>
#include <cstdio>

#include "catalogue/report.h"
#include "record/record.h"

namespace plccli {

namespace {

// How many times the line's own time a block takes with its reply.
double TimesTheLine(const SlowReplies& s) {
    return s.wireUs > 0 ? (s.wireUs + s.medianUs) / static_cast<double>(s.wireUs) : 0;
}

std::string Ms(int32_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", us / 1000.0);
    return text;
}

}  // namespace

SlowReplies TakeSlowReplies(const std::string& port) {
    SlowReplies s;
    s.medianUs = plcReport.turnaroundMedianUs;
    s.p95Us = plcReport.turnaroundP95Us;
    s.wireUs = plcReport.blockWireUs;
    s.latencyTimerMs = AdapterLatencyTimerMs(port);
    return s;
}

std::string SlowRepliesText(const SlowReplies& s) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "each reply comes about %.0f ms after its block: the update takes about %.1f "
                  "times the line's time; a USB-serial adapter's latency timer is the usual "
                  "cause%s: set it to 1 ms (Windows: Device Manager, the port, Port Settings, "
                  "Advanced)",
                  std::round(s.medianUs / 1000.0), TimesTheLine(s),
                  s.latencyTimerMs < 0
                      ? ""
                      : (" (this port's is " + std::to_string(s.latencyTimerMs) + " ms)").c_str());
    return text;
}

std::string SlowRepliesEvent(const SlowReplies& s) {
    char times[32];
    std::snprintf(times, sizeof times, "%.2f", TimesTheLine(s));
    return "{\"event\":\"slow_replies\",\"median_ms\":" + Ms(s.medianUs) +
           ",\"p95_ms\":" + Ms(s.p95Us) + ",\"wire_ms\":" + Ms(s.wireUs) +
           ",\"times_line\":" + times +
           (s.latencyTimerMs < 0 ? ""
                                 : ",\"latency_timer_ms\":" + std::to_string(s.latencyTimerMs)) +
           ",\"message\":" + plcrecord::JsonString(SlowRepliesText(s)) + "}";
}

}  // namespace plccli
