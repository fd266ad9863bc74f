// Why a run's link did not open, or what its server did to it, in words: the same on POSIX and
// in the Windows console program, whose network links the platform layer opens on both.
#include "cli/port/port.h"
#include "platform/hooks.h"
#include "platform/platform.h"

namespace plccli {

namespace {

// Why an open failed, by the error code the platform gives it.
// clang-format off
// code                          reason
const struct {
    DWORD code;
    const char* text;
} kOpenFailures[] = {
    {ERROR_CONNECTION_REFUSED,  "connection refused: nothing listens on that port"},
    {WSAHOST_NOT_FOUND,         "unknown host: the name does not resolve"},
    {ERROR_NOT_SUPPORTED,       "the server refused the COM-PORT-OPTION; for a raw TCP port use tcp://"},
    {ERROR_TIMEOUT,             "no answer from the server within 3 s"},
    {ERROR_CONNECTION_ABORTED,  "the server closed the connection"},
    {WSAECONNRESET,             "the server reset the connection"},
    {ERROR_NETWORK_UNREACHABLE, "the network is unreachable"},
    {ERROR_HOST_UNREACHABLE,    "the host is unreachable"},
    {ERROR_FILE_NOT_FOUND,      "no such port"},
    {ERROR_ACCESS_DENIED,       "permission denied"},
    {ERROR_SHARING_VIOLATION,   "the port is in use by another program"},
    {ERROR_BAD_DEVICE,          "not a serial port (a file, a directory, a pipe or a device that is no terminal); nothing was written to it"},
};
// clang-format on

}  // namespace

std::string OpenErrorText(uint32_t code) {
    for (const auto& f : kOpenFailures)
        if (f.code == code) return f.text;
    return "the link did not open (system error " + std::to_string(code) + ")";
}

bool LinkOpenFailure(const std::string& port, std::string* reason) {
    platform::LinkOpenResult open = platform::LatestLinkOpen();
    if (open.error == 0 || open.name != port) return false;
    *reason = port + ": " + OpenErrorText(open.error);
    return true;
}

bool LinkPeerGone(const std::string& port, std::string* reason) {
    platform::LinkPeerNotice notice = platform::LatestPeerNotice();
    if (notice.gone == 0 || notice.name != port) return false;
    *reason = port + ": " + OpenErrorText(notice.gone) +
              " during the run: check the device server and the network to it";
    return true;
}

bool LinkSpeedRefused(const std::string& port, std::string* note) {
    platform::LinkPeerNotice notice = platform::LatestPeerNotice();
    if (notice.baudAsked == 0 || notice.name != port) return false;
    *note = port + ": the server did not take " + std::to_string(notice.baudAsked) +
            " baud: its line is at " + std::to_string(notice.baudAnswered) +
            " baud; check the serial settings of the device server";
    return true;
}

}  // namespace plccli
