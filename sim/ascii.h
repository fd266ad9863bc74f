// The application firmware's side of the ASCII frames: building replies and taking the host's
// frames apart, plus the escaped text of raw bytes for the exchange log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plcsim {

// ":" + hex pairs + LRC + CR LF. lrcDelta spoils the LRC; lowerCase writes a-f.
std::string EncodeFrame(const std::vector<uint8_t>& bytes, bool lowerCase = false,
                        int lrcDelta = 0);

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
