// Why a run's link did not open, in words: the same on POSIX and in the Windows console program,
// whose network links the platform layer opens on both.
#include "cli/cli.h"
#include "platform/hooks.h"

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
    {ERROR_NETWORK_UNREACHABLE, "the network is unreachable"},
    {ERROR_HOST_UNREACHABLE,    "the host is unreachable"},
    {ERROR_FILE_NOT_FOUND,      "no such port"},
    {ERROR_ACCESS_DENIED,       "permission denied"},
    {ERROR_SHARING_VIOLATION,   "the port is in use by another program"},
};
// clang-format on

}  // namespace

bool LinkOpenFailure(const std::string& port, std::string* reason) {
    platform::LinkOpenResult open = platform::LatestLinkOpen();
    if (open.error == 0 || open.name != port) return false;
    const char* text = "the link did not open";
    for (const auto& f : kOpenFailures)
        if (f.code == open.error) text = f.text;
    *reason = port + ": " + text;
    return true;
}

}  // namespace plccli
