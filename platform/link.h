// Inside the platform layer: a handle names one Link, and each kind of link is one table of
// functions chosen when the link is opened.
#pragma once

#include <cstdint>
#include <string>

#include "platform/virtual.h"

namespace platform {

struct Link;

struct LinkKind {
    const char* name;
    // Honour link.timeouts; return the number of bytes moved.
    DWORD (*read)(Link& link, uint8_t* buf, DWORD n);
    DWORD (*write)(Link& link, const uint8_t* buf, DWORD n);
    bool (*setLine)(Link& link, const DCB& dcb);
    // Accept the time-outs (kept in link.timeouts by the caller); false when the link refuses.
    bool (*setTimeouts)(Link& link, const COMMTIMEOUTS& timeouts);
    // Discard the input that has arrived and not been read; false when the link cannot.
    bool (*purgeInput)(Link& link);
    void (*close)(Link& link);
    uint64_t (*nowMs)();
};

struct Link {
    const LinkKind* kind = nullptr;
    std::string name;
    int fd = -1;                   // tty links
    VirtualLink* vlink = nullptr;  // virtual links
    COMMTIMEOUTS timeouts{};
    DCB dcb{};
};

extern const LinkKind kTtyLink;
extern const LinkKind kVirtualLink;

// Open helpers of each kind: return true and fill the link, or false (errno-like code in *err).
bool OpenTtyLink(const std::string& path, Link& link, DWORD* err);
bool OpenVirtualLink(const std::string& name, Link& link, DWORD* err);

// Total read / write time-out of n bytes under t; 0 means none.
uint64_t ReadTotalMs(const COMMTIMEOUTS& t, DWORD n);
uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD n);

}  // namespace platform
