// The words for a link that did not open, by the error code the platform gives: the same on
// POSIX and Windows, whose network links the platform layer opens on both.
#include "cli/port/port.h"
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

}  // namespace plccli
