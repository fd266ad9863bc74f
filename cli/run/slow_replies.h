// The word about replies that come late: what the transfer measured beyond the line's time,
// what it costs and the usual cause (a USB-serial adapter's latency timer), said once a run
// when the run report says the replies cost the operator time.
#pragma once

#include <cstdint>
#include <string>

namespace plccli {

struct SlowReplies {
    int32_t medianUs = 0;  // beyond the wire time, the median and the 95th percentile
    int32_t p95Us = 0;
    int32_t wireUs = 0;           // one block and its reply on the line
    int32_t latencyTimerMs = -1;  // the port's adapter's timer as its driver keeps it; -1: unknown
};

// The figures of the run report, and the latency timer of the run's port (COM5) where the
// system tells it.
SlowReplies TakeSlowReplies(const std::string& port);
// "each reply comes about 16 ms after its block: the update takes about 2.3 times the line's
// time; ..."
std::string SlowRepliesText(const SlowReplies& s);
// --events: {"event":"slow_replies",...} with the figures and the text.
std::string SlowRepliesEvent(const SlowReplies& s);

// The latency timer in ms of the USB-serial adapter's driver behind the port (a COM port's
// "Device Parameters" on Windows, readable without rights); -1 when the system does not tell.
int32_t AdapterLatencyTimerMs(const std::string& portName);

}  // namespace plccli
