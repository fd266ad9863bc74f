// The files the tool writes lines to (record, trace) and the image it reads, opened so that the
// open never blocks and written so that a slow or gone reader is noticed, never waited for.
//   - OpenOutputFile: a file, device or FIFO to write; a FIFO that no program reads is refused
//   - StillAt: whether a path still names the file that was opened
//   - AtLineStart: whether the file ends in a line end, so that a torn line is never continued
//   - WriteFrom: writes what is left of a text, waiting a bounded time for a full pipe
//   - ReadRegularFile: the bytes of a regular file; a FIFO or a device is refused unread
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plcrecord {

// The descriptor of path opened for writing (appended to, or emptied first), or -1 with the
// system's reason. A file or device is written as usual; a FIFO or socket is written without
// blocking, and one that no program reads is refused at once.
int OpenOutputFile(const std::string& path, bool append, std::string* reason);
void CloseFile(int fd);

// Whether path still names the file that fd has open (neither removed nor replaced since).
bool StillAt(int fd, const std::string& path);

// False only when fd is a regular file whose last byte is no line end: a line that an earlier
// write left torn.
bool AtLineStart(int fd);

enum class WriteResult {
    Whole,    // all of text written
    Stalled,  // the reader of a pipe took nothing for waitMs; *done tells how far it came
    Failed,   // the system refused the write (full disk, reader gone): *reason tells why
};
// Writes text from *done on; on a regular file or a device in one write.
WriteResult WriteFrom(int fd, const std::string& text, size_t* done, int waitMs,
                      std::string* reason);

// The bytes of path when it is a regular file of at most maxBytes; otherwise false with the
// reason (tooLarge when it is larger). A FIFO is opened without waiting for a writer and
// refused.
bool ReadRegularFile(const std::string& path, uint64_t maxBytes, const char* tooLarge,
                     std::vector<uint8_t>* data, std::string* reason);

}  // namespace plcrecord
