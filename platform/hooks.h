// What the front end that runs the worker (the command line, or a test harness) installs so that
// the engine's MessageBoxA, KillTimer and EnableWindow reach it, and the link trace for support.
// POSIX here; the Windows console program fills the same hooks from the import slots it redirects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace platform {

struct FrontEndHooks {
    // Shows a message and returns when the operator has closed it; returns IDOK.
    std::function<int(HWND owner, const char* text, const char* caption, UINT type)> messageBox;
    std::function<BOOL(HWND hwnd, UINT_PTR id)> killTimer;
    std::function<BOOL(HWND hwnd, BOOL enable)> enableWindow;
};

// Installs the hooks (an empty member makes its call a no-op returning TRUE / IDOK).
void SetFrontEndHooks(FrontEndHooks hooks);
void ClearFrontEndHooks();

// Link trace: called for every write and read on a link with the bytes moved and the time in
// milliseconds (virtual time on a virtual link, monotonic time otherwise).
enum class TraceDir { Write, Read };
using LinkTrace = std::function<void(TraceDir dir, const uint8_t* data, size_t len,
                                     uint32_t requested, uint64_t ms)>;
void SetLinkTrace(LinkTrace trace);

// What happens to a link besides its reads and writes, with the time on the same clock as the
// link trace's; called after the call it reports, with whether that call succeeded (a pause:
// before it starts).
enum class LinkEventKind { Open, Close, Line, Timeouts, Purge, Pause };
struct LinkEvent {
    LinkEventKind kind = LinkEventKind::Open;
    bool ok = true;
    std::string name;         // Open: the link's name as the engine gave it
    uint32_t error = 0;       // Open: the system's error code when it failed
    DCB dcb{};                // Line: the settings asked for
    COMMTIMEOUTS timeouts{};  // Timeouts: the time-outs asked for
    uint32_t pauseMs = 0;     // Pause: how long the engine sleeps
};
using LinkEventTrace = std::function<void(const LinkEvent& event, uint64_t ms)>;
void SetLinkEventTrace(LinkEventTrace trace);

// The latest link open of the process, on any thread: the name as the engine gave it and the
// system's error code (0 when it opened), for the front end to say why a run's link did not open.
struct LinkOpenResult {
    std::string name;
    uint32_t error = 0;
};
LinkOpenResult LatestLinkOpen();

}  // namespace platform
