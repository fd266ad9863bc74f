// A crafted PLC for the update run's tests: it answers each request by what the request is
// (probe, identity, register read, "ERASE", a block...), from a book of replies per request.
// A request's replies are used in order; the last one repeats. Requests without an entry get
// silence. It records every request, the opens and closes with their virtual times, and the
// data of every block it acknowledged.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "applink/frames.h"
#include "catalogue/codes.h"
#include "platform/virtual.h"
#include "tests/support/scripted_peer.h"

namespace plctest {

// Keys of the requests that are not fixed text.
#define REQ_BLOCK "<block>"
#define REQ_EOT "<EOT>"

class ReplyBook : public platform::VirtualPeer {
  public:
    struct LinkEvent {
        enum Kind { Open, Close, RefusedOpen } kind;
        uint64_t atMs;
    };

    // Replies to the request `key` (a request frame, "ID", "VERSION", "ERASE", "UPDATE",
    // REQ_EOT or REQ_BLOCK), in order; the last repeats. An empty reply is silence.
    ReplyBook& On(const std::string& key, std::vector<std::string> replies) {
        book_[key] = std::deque<std::string>(replies.begin(), replies.end());
        return *this;
    }
    ReplyBook& On(const std::string& key, const std::string& reply) {
        return On(key, std::vector<std::string>{reply});
    }

    // A bootloader that answers everything: its id, its version bytes, and ACK to the rest.
    ReplyBook& Bootloader(uint16_t id, uint8_t versionHigh = 0x01, uint8_t versionLow = 0x40) {
        On("ID", Bytes({ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)}));
        On("VERSION", Bytes({ACK, versionHigh, versionLow}));
        On("ERASE", Bytes({ACK}));
        On(REQ_EOT, Bytes({ACK}));
        On("UPDATE", Bytes({ACK}));
        On(REQ_BLOCK, Bytes({ACK}));
        return *this;
    }

    // Application firmware that answers the probe with ENQ once (then ACK: the bootloader has
    // taken over), reports `id`, holds the given registers and version, and accepts the request
    // to enter its bootloader.
    ReplyBook& Application(uint16_t id, bool aio = false, uint16_t d1386 = 0, uint16_t d1001 = 0,
                           uint16_t d1148 = 0, uint8_t version = 0x14) {
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

    // Opens with these numbers (1 = the first open) are refused, as by an absent device.
    ReplyBook& RefuseOpens(std::vector<int> which) {
        refused_ = std::move(which);
        return *this;
    }

    std::vector<std::string> requests;
    std::vector<uint64_t> requestTimes;  // virtual time of each request
    std::vector<LinkEvent> linkEvents;
    std::vector<uint8_t> flash;  // data of the acknowledged blocks, in order
    std::function<void()> onClose;

    int Count(const std::string& key) const {
        int n = 0;
        for (const auto& r : requests)
            if (r == key) ++n;
        return n;
    }
    int Opens() const { return CountEvents(LinkEvent::Open); }
    int Closes() const { return CountEvents(LinkEvent::Close); }

    bool OnOpen(platform::VirtualLink&) override {
        ++openAttempts_;
        for (int n : refused_) {
            if (n == openAttempts_) {
                linkEvents.push_back({LinkEvent::RefusedOpen, platform::VirtualNowMs()});
                return false;
            }
        }
        linkEvents.push_back({LinkEvent::Open, platform::VirtualNowMs()});
        return true;
    }
    void OnClose(platform::VirtualLink&) override {
        linkEvents.push_back({LinkEvent::Close, platform::VirtualNowMs()});
        if (onClose) onClose();
    }

    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        std::string key = KeyOf(data, len);
        requests.push_back(key);
        requestTimes.push_back(nowMs);
        auto it = book_.find(key);
        if (it == book_.end() || it->second.empty()) return len;
        std::string reply = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        if (key == REQ_BLOCK && reply == Bytes({ACK})) {
            size_t dataBytes = len - 5;  // STX, number, complement ... CRC high, CRC low
            flash.insert(flash.end(), data + 3, data + 3 + dataBytes);
        }
        if (!reply.empty()) link.Deliver(reply, nowMs);
        return len;
    }

  private:
    static std::string KeyOf(const uint8_t* data, size_t len) {
        if (len == 1 && data[0] == EOT) return REQ_EOT;
        if ((len == 261 || len == 133) && data[0] == STX) return REQ_BLOCK;
        return std::string(reinterpret_cast<const char*>(data), len);
    }
    int CountEvents(LinkEvent::Kind kind) const {
        int n = 0;
        for (const auto& e : linkEvents)
            if (e.kind == kind) ++n;
        return n;
    }

    std::map<std::string, std::deque<std::string>> book_;
    std::vector<int> refused_;
    int openAttempts_ = 0;
};

}  // namespace plctest
