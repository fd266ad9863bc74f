// A host written by hand for the simulator's tests: it opens a link through the platform
// calls, sets the line and time-outs, and exchanges requests and replies, with the frames built
// by the test itself (CheckLRC and CRC from the foundation check both directions).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "applink/applink.h"
#include "bootloader/bootloader.h"
#include "catalogue/codes.h"
#include "applink/frames.h"
#include "platform/platform.h"
#include "sim/models.h"

namespace simtest {

class HandHost {
public:
    explicit HandHost(std::string link) : link_(std::move(link)) {}
    ~HandHost() { Close(); }

    bool Open() {
        h_ = CreateFileA(link_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h_ == INVALID_HANDLE_VALUE) return false;
        Timeouts(readTimeoutMs);
        return true;
    }
    void Close() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    void Line(DWORD baud, BYTE bits, BYTE parity) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(h_, &dcb);
        dcb.BaudRate = baud;
        dcb.ByteSize = bits;
        dcb.Parity = parity;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(h_, &dcb);
    }
    void AppLine() { Line(9600, 7, EVENPARITY); }
    void FastLine() { Line(115200, 8, NOPARITY); }
    void Timeouts(DWORD totalMs) {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutConstant = totalMs;
        t.WriteTotalTimeoutConstant = totalMs;
        SetCommTimeouts(h_, &t);
    }
    DWORD Write(const std::string& bytes) {
        DWORD n = 0;
        WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        return n;
    }
    std::string Read(size_t n) {
        std::string buf(n, '\0');
        DWORD got = 0;
        ReadFile(h_, buf.data(), static_cast<DWORD>(n), &got, nullptr);
        buf.resize(got);
        return buf;
    }
    std::string Exchange(const std::string& request, size_t replyLen) {
        Write(request);
        return Read(replyLen);
    }

    // An ASCII reply decoded with CheckLRC; empty when its length or LRC is wrong.
    static std::vector<uint8_t> Decode(const std::string& reply) {
        if (reply.size() < 5 || reply[0] != ':') return {};
        std::string body = reply.substr(1, reply.size() - 3);
        std::vector<uint8_t> buf(body.begin(), body.end());
        if (CheckLRC(buf.data(), static_cast<uint8_t>(buf.size())) != 0) return {};
        buf.resize(body.size() / 2);
        return buf;
    }

    // One block packet: STX, num, 255 - num, data, CRC high, CRC low.
    static std::string Block(uint8_t num, const uint8_t* data, size_t n, size_t blockBytes) {
        std::string p(3 + blockBytes + 2, static_cast<char>(SUB));
        p[0] = STX;
        p[1] = static_cast<char>(num);
        p[2] = static_cast<char>(255 - num);
        for (size_t i = 0; i < n; ++i) p[3 + i] = static_cast<char>(data[i]);
        uint32_t crc = CRC(reinterpret_cast<const unsigned char*>(p.data() + 3),
                           static_cast<uint32_t>(blockBytes));
        p[3 + blockBytes] = static_cast<char>(crc >> 8);
        p[4 + blockBytes] = static_cast<char>(crc & 0xFF);
        return p;
    }

    HANDLE Handle() const { return h_; }
    // The replug or power cycle: close, let the far end notice, open again.
    bool Reopen() {
        Close();
        if (betweenCloseAndOpen) betweenCloseAndOpen();
        return Open();
    }
    std::function<void()> betweenCloseAndOpen;
    DWORD readTimeoutMs = 3000;

private:
    std::string link_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A deterministic test image of n bytes.
inline std::vector<uint8_t> TestImage(size_t n, uint32_t seed = 7) {
    std::vector<uint8_t> img(n);
    uint32_t x = seed;
    for (auto& b : img) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return img;
}

// Runs one update as the host would; returns "" or the step that failed. Each bootloader
// request is sent up to 1 + retries times until it is acknowledged.
inline std::string RunUpdate(HandHost& host, const plcsim::ModelTraits& m,
                             const std::vector<uint8_t>& img, bool startsInApp, int retries = 0) {
    auto acked = [&](const std::string& request) {
        for (int i = 0; i <= retries; ++i)
            if (host.Exchange(request, 1) == std::string(1, ACK)) return true;
        return false;
    };
    const bool com = !m.usb;
    if (!host.Open()) return "open";
    if (com) host.AppLine();
    auto frame = [&](const char* aio, const char* other) { return m.aio ? aio : other; };
    if (startsInApp) {
        host.Timeouts(200);
        for (int i = 0; i < 5; ++i) host.Exchange(FRAME_WAKEUP, 11);
        host.Timeouts(host.readTimeoutMs);
        auto probe = HandHost::Decode(host.Exchange(frame(FRAME_PROBE_AIO, FRAME_PROBE), 19));
        if (probe.size() != 8 || probe[4] != ENQ) return "probe in application mode";
        auto id = HandHost::Decode(host.Exchange(frame(FRAME_ID_AIO, FRAME_ID), 19));
        if (id.size() != 8 || id[4] != ACK || (id[5] << 8 | id[6]) != m.id) return "identity";
        std::string enterReply = host.Exchange(frame(FRAME_ENTER_BOOT_AIO, FRAME_ENTER_BOOT), 19);
        if (m.restart == plcsim::Restart::PowerCycle) {
            if (!enterReply.empty()) return "a power-cycle model answered the request";
        } else {
            auto ack = HandHost::Decode(enterReply);
            if (ack.size() != 8 || ack[4] != ACK) return "enter-bootloader request";
            if (host.Write(frame(FRAME_CONFIRM_AIO, FRAME_CONFIRM)) != 15) return "confirmation";
        }
        if (m.restart != plcsim::Restart::AtOnce) {
            if (!host.Reopen()) return "reopen";
            if (com) host.AppLine();
        }
        auto probe2 = HandHost::Decode(host.Exchange(frame(FRAME_PROBE_AIO, FRAME_PROBE), 19));
        if (probe2.size() != 8 || probe2[4] != ACK) return "probe in bootloader mode";
    }
    std::string id = host.Exchange("ID", 3);
    if (id.size() != 3 || id[0] != ACK) return "bootloader ID";
    if (host.Exchange("VERSION", 3).size() != 3) return "VERSION";

    uint32_t n = static_cast<uint32_t>(img.size());
    uint32_t sent = m.omitsLast4K ? n - 4096 : n;
    uint32_t pages =
        std::string(m.name) == "30TR2-AIO" ? 4 : (sent + m.pageBytes - 1) / m.pageBytes;
    for (uint32_t p = 0; p < pages; ++p)
        if (!acked("ERASE")) return "ERASE " + std::to_string(p);
    if (!acked("\x04")) return "erase EOT";
    if (!acked("UPDATE")) return "UPDATE";
    host.FastLine();
    uint32_t bs = m.blockBytes;
    uint32_t blocks = (sent + bs - 1) / bs;
    for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t len = std::min(bs, sent - i * bs);
        std::string packet =
            HandHost::Block(static_cast<uint8_t>(i + 1), img.data() + i * bs, len, bs);
        if (!acked(packet)) return "block " + std::to_string(i);
    }
    if (!acked("\x04")) return "transfer EOT";
    host.Close();
    return "";
}

// A host that never reads: writes unit again and again through put (write or send on a
// non-blocking descriptor) until the peer has taken nothing for 300 ms or limit bytes went.
// Returns the bytes that went.
template <typename Put>
size_t WriteUntilHeldBack(const std::string& unit, size_t limit, Put put) {
    using Clock = std::chrono::steady_clock;
    std::string chunk;
    while (chunk.size() < 4000) chunk += unit;
    size_t sent = 0;
    auto lastSent = Clock::now();
    while (sent < limit && Clock::now() - lastSent < std::chrono::milliseconds(300)) {
        auto w = put(chunk.data(), chunk.size());
        if (w > 0) {
            sent += static_cast<size_t>(w);
            lastSent = Clock::now();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return sent;
}

}  // namespace simtest
