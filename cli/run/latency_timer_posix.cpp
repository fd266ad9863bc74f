#include "cli/run/slow_replies.h"

namespace plccli {

// The tty link asks the serial driver for its low-latency mode itself; nothing to name here.
int32_t AdapterLatencyTimerMs(const std::string&) {
    return -1;
}

}  // namespace plccli
