// A scripted far end for protocol tests: one scripted reply per host write, in order, with
// crafted frames (wrong LRC, lower-case hex, short replies, late replies) and short writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/virtual.h"

namespace plctest {

// A frame of the application-mode protocol: ":" + hex pairs + LRC + CR LF. The LRC makes the
// byte sum 0 unless lrcDelta says otherwise; lowerCase writes the hex digits in lower case.
inline std::string AsciiFrame(const std::vector<uint8_t>& bytes, int lrcDelta = 0,
                              bool lowerCase = false) {
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

// The 19-character reply to function 0x64 or 0x67: decoded bytes 4, 5 and 6 as given.
inline std::string Reply19(uint8_t b4, uint8_t b5 = 0, uint8_t b6 = 0, int lrcDelta = 0,
                           bool lowerCase = false) {
    return AsciiFrame({0x00, 0x64, 0x01, 0x59, b4, b5, b6}, lrcDelta, lowerCase);
}

// The 15-character reply to a register read (function 0x03) carrying value.
inline std::string RegisterReply(uint16_t value, int lrcDelta = 0, bool lowerCase = false) {
    return AsciiFrame({0x00, 0x03, 0x02, static_cast<uint8_t>(value >> 8),
                       static_cast<uint8_t>(value & 0xFF)},
                      lrcDelta, lowerCase);
}

inline std::string Bytes(std::initializer_list<uint8_t> b) { return std::string(b.begin(), b.end()); }

class ScriptedPeer : public platform::VirtualPeer {
public:
    struct Step {
        std::string reply;  // empty: silence
        uint64_t delayMs = 0;
    };

    // Appends the reply to the next host write (after the writes already scripted).
    ScriptedPeer& Then(const std::string& reply, uint64_t delayMs = 0) {
        script_.push_back({reply, delayMs});
        return *this;
    }
    ScriptedPeer& Times(int n, const std::string& reply, uint64_t delayMs = 0) {
        for (int i = 0; i < n; ++i) Then(reply, delayMs);
        return *this;
    }
    ScriptedPeer& ThenSilence(int n = 1) { return Times(n, std::string()); }
    // When the script runs out: answer every further write with this reply (default: silence).
    ScriptedPeer& Otherwise(const std::string& reply) {
        otherwise_ = reply;
        return *this;
    }
    // The write with this index (from 0) is taken only up to `took` bytes; it gets no reply.
    ScriptedPeer& ShortWrite(size_t writeIndex, size_t took) {
        shortWrites_[writeIndex] = took;
        return *this;
    }
    // Takes no byte at all from any write.
    ScriptedPeer& AcceptNoBytes() {
        acceptNone_ = true;
        return *this;
    }
    ScriptedPeer& RefuseOpen() {
        allowOpen_ = false;
        return *this;
    }

    // Every write as the host issued it (also the ones taken short), in order.
    std::vector<std::string> writes;
    int opens = 0;
    int closes = 0;

    bool OnOpen(platform::VirtualLink&) override {
        if (!allowOpen_) return false;
        ++opens;
        return true;
    }
    void OnClose(platform::VirtualLink&) override { ++closes; }

    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        size_t index = writes.size();
        writes.emplace_back(reinterpret_cast<const char*>(data), len);
        if (acceptNone_) return 0;
        auto shortWrite = shortWrites_.find(index);
        if (shortWrite != shortWrites_.end()) return shortWrite->second;
        Step step{otherwise_, 0};
        if (!script_.empty()) {
            step = script_.front();
            script_.pop_front();
        }
        if (!step.reply.empty()) link.Deliver(step.reply, nowMs + step.delayMs);
        return len;
    }

    size_t Remaining() const { return script_.size(); }

private:
    std::deque<Step> script_;
    std::string otherwise_;
    std::map<size_t, size_t> shortWrites_;
    bool acceptNone_ = false;
    bool allowOpen_ = true;
};

}  // namespace plctest
