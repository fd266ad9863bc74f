// Why a run's link did not open, or what its server did to it, in words: the same on POSIX and
// in the Windows console program, whose network links the platform layer opens on both.
#include "cli/port/port.h"
#include "platform/hooks.h"

namespace plccli {

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
