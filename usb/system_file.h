// Small files of the system (sysfs attributes, uevents) read so that no file can hold the
// program up or make it grow: opened without blocking and without following a last link, a
// regular file only, read up to a cap.
//   - ReadSystemFile: the whole file, or why it was not read
#pragma once

#include <cstddef>
#include <string>

// A sysfs attribute is at most a page; a uevent is a few lines.
#define SYSTEM_FILE_MAX_BYTES 4096

enum SystemFileResult {
    SYSTEM_FILE_READ,        // *text holds the whole file
    SYSTEM_FILE_ABSENT,      // no such file
    SYSTEM_FILE_UNREADABLE,  // there, but refused or failed: *why says how
};

// Reads a file of at most maxBytes. A FIFO, a device, a socket, a symbolic link as the last
// component, a file longer than maxBytes or one that cannot be opened or read is unreadable.
SystemFileResult ReadSystemFile(const std::string& path, std::string* text, std::string* why,
                                size_t maxBytes = SYSTEM_FILE_MAX_BYTES);
