#include "sim/ascii.h"

#include <cstdio>

namespace plcsim {

const char* FrameErrorText(FrameError e) {
    switch (e) {
        case FrameError::None: return "ok";
        case FrameError::NoColon: return "no colon";
        case FrameError::NoCrLf: return "not ended by CR LF";
        case FrameError::OddLength: return "odd number of hex digits";
        case FrameError::BadDigit: return "not a hex digit";
        case FrameError::LowerCase: return "lower-case hex digit";
        case FrameError::BadLrc: return "wrong LRC";
    }
    return "?";
}

namespace {

int Nibble(char c, bool* lower) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') {
        *lower = true;
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

FrameError DecodeFrame(const std::string& frame, std::vector<uint8_t>* bytes) {
    bytes->clear();
    if (frame.empty() || frame[0] != ':') return FrameError::NoColon;
    if (frame.size() < 3 || frame[frame.size() - 2] != '\r' || frame.back() != '\n')
        return FrameError::NoCrLf;
    size_t digits = frame.size() - 3;
    if (digits % 2 != 0 || digits == 0) return FrameError::OddLength;
    bool lower = false;
    uint8_t sum = 0;
    for (size_t i = 1; i < 1 + digits; i += 2) {
        int hi = Nibble(frame[i], &lower);
        int lo = Nibble(frame[i + 1], &lower);
        if (hi < 0 || lo < 0) return FrameError::BadDigit;
        uint8_t b = static_cast<uint8_t>(hi * 16 + lo);
        bytes->push_back(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    if (lower) return FrameError::LowerCase;
    if (sum != 0) return FrameError::BadLrc;
    return FrameError::None;
}

std::string Escape(const uint8_t* data, size_t len) {
    std::string out;
    char buf[5];
    for (size_t i = 0; i < len; ++i) {
        uint8_t c = data[i];
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string Hex(const uint8_t* data, size_t len) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        out += buf;
    }
    return out;
}

}  // namespace plcsim
