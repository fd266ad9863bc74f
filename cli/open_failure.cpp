// Why a run's link did not open, in words: the same on POSIX and in the Windows console program,
// whose network links the platform layer opens on both.
#include "cli/cli.h"
#include "platform/hooks.h"

namespace plccli {

bool LinkOpenFailure(const std::string& port, std::string* reason) {
    platform::LinkOpenResult open = platform::LatestLinkOpen();
    if (open.error == 0 || open.name != port) return false;
    *reason = port + ": " + OpenErrorText(open.error);
    return true;
}

}  // namespace plccli
