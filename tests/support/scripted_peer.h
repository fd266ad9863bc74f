// The scripted far end of every protocol and update test (and of the fuzz targets): it answers
// a host write from a book of replies per request when the request has an entry there (probe,
// identity, "ERASE", a block...), else with the next step of an ordered script. It can take
// writes short or not at all, refuse opens, and records every write, the opens and closes with
// their virtual times, and the data of every block it acknowledged.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "applink/frames.h"
#include "catalogue/codes.h"
#include "platform/virtual.h"
#include "sim/ascii.h"

namespace plctest {

// The 19-character reply to function 0x64 or 0x67: decoded bytes 4, 5 and 6 as given. The last
// two parameters are those of plcsim::EncodeFrame.
inline std::string Reply19(uint8_t b4, uint8_t b5 = 0, uint8_t b6 = 0, bool lowerCase = false,
                           int lrcDelta = 0) {
    return plcsim::EncodeFrame({0x00, 0x64, 0x01, 0x59, b4, b5, b6}, lowerCase, lrcDelta);
}

// The 15-character reply to a register read (function 0x03) carrying value.
inline std::string RegisterReply(uint16_t value, bool lowerCase = false, int lrcDelta = 0) {
    return plcsim::EncodeFrame({0x00, 0x03, 0x02, static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value & 0xFF)},
                               lowerCase, lrcDelta);
}

// The 19-character reply to the id read (function 0x67): the id in decoded bytes 3 and 4.
inline std::string PlcIdReply(uint16_t id, bool lowerCase = false, int lrcDelta = 0) {
    return plcsim::EncodeFrame({0x00, 0x67, 0x04, static_cast<uint8_t>(id >> 8),
                                static_cast<uint8_t>(id & 0xFF), 0x00, 0x00},
                               lowerCase, lrcDelta);
}

inline std::string Bytes(std::initializer_list<uint8_t> b) { return std::string(b.begin(), b.end()); }

// Book keys of the requests that are not fixed text.
#define REQ_BLOCK "<block>"
#define REQ_EOT "<EOT>"

class ScriptedPeer : public platform::VirtualPeer {
  public:
    struct Step {
        std::string reply;  // empty: silence
        uint64_t delayMs = 0;
        bool takesHalf = false;  // the write comes up short (half of it taken); the reply stays
        uint64_t againAfterMs = 0;  // > 0: the reply comes once more, this long after the first
    };
    struct LinkEvent {
        enum Kind { Open, Close, RefusedOpen } kind;
        uint64_t atMs;
    };

    // Appends the reply to the next host write (after the writes already scripted).
    ScriptedPeer& Then(const std::string& reply, uint64_t delayMs = 0) {
        return Then(Step{reply, delayMs});
    }
    ScriptedPeer& Then(const Step& step) {
        script_.push_back(step);
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

    // Replies to the request `key` (a request frame, "ID", "VERSION", "ERASE", "UPDATE",
    // REQ_EOT or REQ_BLOCK), in order; the last repeats. An empty reply is silence. A request
    // with an entry here does not use the script.
    ScriptedPeer& On(const std::string& key, std::vector<std::string> replies) {
        book_[key] = std::deque<std::string>(replies.begin(), replies.end());
        return *this;
    }
    ScriptedPeer& On(const std::string& key, const std::string& reply) {
        return On(key, std::vector<std::string>{reply});
    }
    // A bootloader that answers everything: its id, its version bytes, and ACK to the rest.
    ScriptedPeer& Bootloader(uint16_t id, uint8_t versionHigh = 0x01, uint8_t versionLow = 0x40) {
        On("ID", Bytes({ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)}));
        On("VERSION", Bytes({ACK, versionHigh, versionLow}));
        for (const char* key : {"ERASE", REQ_EOT, "UPDATE", REQ_BLOCK}) On(key, Bytes({ACK}));
        return *this;
    }
    // Application firmware that answers the probe with ENQ once (then ACK: the bootloader has
    // taken over), reports `id`, holds the given registers and version, and accepts the request
    // to enter its bootloader.
    ScriptedPeer& Application(uint16_t id, bool aio = false, uint16_t d1386 = 0,
                              uint16_t d1001 = 0, uint16_t d1148 = 0, uint8_t version = 0x14) {
        On(aio ? FRAME_PROBE_AIO : FRAME_PROBE, {Reply19(ENQ), Reply19(ACK)});
        On(aio ? FRAME_ID_AIO : FRAME_ID,
           Reply19(ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)));
        On(FRAME_READ_D1386, RegisterReply(d1386));
        On(FRAME_READ_D1001, RegisterReply(d1001));
        On(FRAME_READ_D1148, RegisterReply(d1148));
        On(FRAME_VERSION, Reply19(version));
        On(aio ? FRAME_ENTER_BOOT_AIO : FRAME_ENTER_BOOT, Reply19(ACK));
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
    // Every open fails, as with an absent device; RefuseOpens: only the opens with these
    // numbers (1 = the first).
    ScriptedPeer& RefuseOpen() {
        refuseAll_ = true;
        return *this;
    }
    ScriptedPeer& RefuseOpens(std::vector<int> which) {
        refused_ = std::move(which);
        return *this;
    }

    // Every write as the host issued it (also the ones taken short), in order; its book key
    // and virtual time alongside.
    std::vector<std::string> writes;
    std::vector<std::string> requests;
    std::vector<uint64_t> requestTimes;
    std::vector<LinkEvent> linkEvents;
    std::vector<uint8_t> flash;  // data of the acknowledged blocks, in order
    int opens = 0;
    int closes = 0;
    // Called as each write arrives and as the link closes: a test looks at the engine's state
    // at those moments.
    std::function<void()> onWrite;
    std::function<void()> onClose;

    int Count(const std::string& key) const {
        int n = 0;
        for (const auto& r : requests) n += r == key;
        return n;
    }
    size_t Remaining() const { return script_.size(); }

    bool OnOpen(platform::VirtualLink&) override {
        ++openAttempts_;
        bool refused = refuseAll_;
        for (int n : refused_) refused = refused || n == openAttempts_;
        linkEvents.push_back({refused ? LinkEvent::RefusedOpen : LinkEvent::Open,
                              platform::VirtualNowMs()});
        opens += !refused;
        return !refused;
    }
    void OnClose(platform::VirtualLink&) override {
        ++closes;
        linkEvents.push_back({LinkEvent::Close, platform::VirtualNowMs()});
        if (onClose) onClose();
    }

    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        if (onWrite) onWrite();
        size_t index = writes.size();
        writes.emplace_back(reinterpret_cast<const char*>(data), len);
        requests.push_back(KeyOf(data, len));
        requestTimes.push_back(nowMs);
        if (acceptNone_) return 0;
        auto shortWrite = shortWrites_.find(index);
        if (shortWrite != shortWrites_.end()) return shortWrite->second;
        Step step = NextStep(requests.back());
        if (requests.back() == REQ_BLOCK && step.reply == Bytes({ACK}))
            flash.insert(flash.end(), data + 3, data + len - 2);  // STX, n, ~n ... CRC
        if (!step.reply.empty()) link.Deliver(step.reply, nowMs + step.delayMs);
        if (step.againAfterMs > 0)
            link.Deliver(step.reply, nowMs + step.delayMs + step.againAfterMs);
        return step.takesHalf ? len / 2 : len;
    }

  private:
    static std::string KeyOf(const uint8_t* data, size_t len) {
        if (len == 1 && data[0] == EOT) return REQ_EOT;
        if ((len == 261 || len == 133) && data[0] == STX) return REQ_BLOCK;
        return std::string(reinterpret_cast<const char*>(data), len);
    }
    Step NextStep(const std::string& key) {
        auto entry = book_.find(key);
        if (entry != book_.end() && !entry->second.empty()) {
            Step step{entry->second.front()};
            if (entry->second.size() > 1) entry->second.pop_front();
            return step;
        }
        if (script_.empty()) return Step{otherwise_};
        Step step = script_.front();
        script_.pop_front();
        return step;
    }

    std::deque<Step> script_;
    std::string otherwise_;
    std::map<std::string, std::deque<std::string>> book_;
    std::map<size_t, size_t> shortWrites_;
    std::vector<int> refused_;
    int openAttempts_ = 0;
    bool refuseAll_ = false;
    bool acceptNone_ = false;
};

}  // namespace plctest
