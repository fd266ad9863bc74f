// Descriptors of the files the tool writes and reads, with POSIX's calls (and the C runtime's
// equivalents on Windows, which has no FIFO to wait for).
#include "record/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace plcrecord {

namespace {

#ifdef _WIN32
const int OUTPUT_FLAGS = O_WRONLY | O_CREAT | O_BINARY;
const int INPUT_FLAGS = O_RDONLY | O_BINARY;
const int READ_WRITE_FLAGS = O_RDWR | O_BINARY;
#else
const int OUTPUT_FLAGS = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK;
const int INPUT_FLAGS = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
const int READ_WRITE_FLAGS = O_RDWR | O_CLOEXEC;
#endif

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A regular file is reopened for reading as well, so that its last byte can be read back.
int Readable(const std::string& path, int fd, const struct stat& st, int modeFlags) {
    int rw = open(path.c_str(), READ_WRITE_FLAGS | modeFlags);
    struct stat again;
    if (rw >= 0 && fstat(rw, &again) == 0 && SameFile(st, again)) {
        close(fd);
        return rw;
    }
    if (rw >= 0) close(rw);
    return fd;
}

// Waits until a pipe takes bytes again; false when it has not for ms.
bool WaitWritable(int fd, int ms) {
#ifdef _WIN32
    (void)fd;
    (void)ms;
    return false;
#else
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do ready = poll(&p, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
#endif
}

}  // namespace

int OpenOutputFile(const std::string& path, bool append, std::string* reason) {
    int mode = append ? O_APPEND : O_TRUNC;
    int fd = open(path.c_str(), OUTPUT_FLAGS | mode, 0666);
    if (fd < 0) {
        *reason = errno == ENXIO ? "a FIFO that no program reads" : std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *reason = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (S_ISREG(st.st_mode)) return Readable(path, fd, st, append ? O_APPEND : 0);
    return fd;
}

bool StillAt(int fd, const std::string& path) {
    struct stat opened, named;
    if (stat(path.c_str(), &named) != 0) return false;
#ifdef _WIN32
    // A file open here can be neither removed nor replaced, and the C runtime gives no inode.
    (void)fd;
    (void)opened;
    return true;
#else
    return fstat(fd, &opened) == 0 && SameFile(opened, named);
#endif
}

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

bool AtLineStart(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return true;
    char last = '\n';
#ifdef _WIN32
    if (_lseeki64(fd, st.st_size - 1, SEEK_SET) < 0 || read(fd, &last, 1) != 1) return true;
#else
    if (pread(fd, &last, 1, st.st_size - 1) != 1) return true;
#endif
    return last == '\n';
}

WriteResult WriteFrom(int fd, const std::string& text, size_t* done, int waitMs,
                      std::string* reason) {
    while (*done < text.size()) {
        auto n = write(fd, text.data() + *done, static_cast<unsigned>(text.size() - *done));
        if (n > 0) {
            *done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitWritable(fd, waitMs)) return WriteResult::Stalled;
            continue;
        }
        *reason = std::strerror(n < 0 ? errno : ENOSPC);
        return WriteResult::Failed;
    }
    return WriteResult::Whole;
}

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, const char* tooLarge,
                     std::vector<uint8_t>* data, std::string* reason) {
    int fd = open(path.c_str(), INPUT_FLAGS);
    struct stat st;
    if (fd < 0) {
        int error = errno;
        // Windows refuses to open a directory as a file, with "Permission denied".
        bool directory = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        *reason = directory ? "a directory, not a file" : std::strerror(error);
        return false;
    }
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        *reason = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        *reason = "a directory, not a file";
    } else if (!S_ISREG(st.st_mode)) {
        *reason = "not a regular file";
    } else if (st.st_size == 0) {
        *reason = "empty";
    } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        *reason = tooLarge;
    } else {
        data->resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        int failed = 0;
        while (got < data->size() && failed == 0) {
            auto n = read(fd, data->data() + got, static_cast<unsigned>(data->size() - got));
            if (n > 0)
                got += static_cast<size_t>(n);
            else if (n == 0)
                failed = EIO;  // shorter than when it was opened
            else if (errno != EINTR)
                failed = errno;
        }
        ok = failed == 0;
        if (!ok) *reason = std::strerror(failed);
    }
    close(fd);
    return ok;
}

}  // namespace plcrecord
