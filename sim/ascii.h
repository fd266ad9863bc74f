// The application firmware's side of the ASCII frames: building replies and taking the host's
// frames apart, plus the escaped text of raw bytes for the exchange log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plcsim {

// ":" + hex pairs + LRC + CR LF. lrcDelta spoils the LRC; lowerCase writes a-f. Inline: the
// protocol tests build their crafted replies with it without linking the simulator.
inline std::string EncodeFrame(const std::vector<uint8_t>& bytes, bool lowerCase = false,
                               int lrcDelta = 0) {
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    std::vector<uint8_t> all = bytes;
    all.push_back(static_cast<uint8_t>(-sum + lrcDelta));
    std::string out = ":";
    char pair[3];
    for (uint8_t b : all) {
        std::snprintf(pair, sizeof pair, lowerCase ? "%02x" : "%02X", b);
        out += pair;
    }
    return out + "\r\n";
}

enum class FrameError : uint8_t { None, NoColon, NoCrLf, OddLength, BadDigit, LowerCase, BadLrc };
const char* FrameErrorText(FrameError e);

// Decodes a whole frame as the host sent it (colon to LF). On success `bytes` holds the decoded
// bytes with the LRC last.
FrameError DecodeFrame(const std::string& frame, std::vector<uint8_t>* bytes);

// Printable ASCII as is, CR and LF as \r \n, every other byte as \xNN.
std::string Escape(const uint8_t* data, size_t len);
inline std::string Escape(const std::string& s) {
    return Escape(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
std::string Hex(const uint8_t* data, size_t len);

}  // namespace plcsim
