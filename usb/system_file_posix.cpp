// Reading a small system file on Linux: open(2) with O_NONBLOCK so that a FIFO with no writer
// returns at once, O_NOFOLLOW because a sysfs attribute is never a link, then fstat on what was
// opened, so that nothing swapped in between the checks is read.
#include "usb/system_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::string KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file";
    if (S_ISSOCK(mode)) return "a socket, not a file";
    if (S_ISDIR(mode)) return "a directory, not a file";
    return "not a regular file";
}

SystemFileResult Unreadable(std::string* why, const std::string& reason) {
    *why = reason;
    return SYSTEM_FILE_UNREADABLE;
}

}  // namespace

SystemFileResult ReadSystemFile(const std::string& path, std::string* text, std::string* why,
                                size_t maxBytes) {
    text->clear();
    why->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return SYSTEM_FILE_ABSENT;
        return Unreadable(why,
                          errno == ELOOP ? "a symbolic link, not a file" : std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::string reason = KindOf(st.st_mode);
        ::close(fd);
        return Unreadable(why, reason);
    }
    // One byte beyond the cap tells a file that fills it from one that is longer.
    std::vector<char> buffer(maxBytes + 1);
    size_t got = 0;
    while (got < buffer.size()) {
        ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::string reason = std::strerror(errno);
            ::close(fd);
            return Unreadable(why, reason);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got > maxBytes)
        return Unreadable(why, "longer than " + std::to_string(maxBytes) + " bytes");
    text->assign(buffer.data(), got);
    return SYSTEM_FILE_READ;
}
