// The --trace file: a header, then the link's reads, writes and events, one a line, with the
// time since the first of them.
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "cli/port/port.h"
#include "cli/trace/trace.h"

namespace plccli {

namespace {

// The control bytes of both protocols, named where one stands alone.
// byte  name
const struct {
    uint8_t byte;
    const char* name;
} kControlNames[] = {
    {STX, "STX"}, {EOT, "EOT"}, {ENQ, "ENQ"}, {ACK, "ACK"},
    {NAK, "NAK"}, {NOK, "NOK"}, {SUB, "SUB"},
};

const char* ControlName(uint8_t b) {
    for (const auto& c : kControlNames)
        if (c.byte == b) return c.name;
    return nullptr;
}

// The application protocol's frames: printable ASCII with CR and LF.
bool IsText(const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if ((data[i] < 0x20 || data[i] > 0x7E) && data[i] != '\r' && data[i] != '\n') return false;
    return len > 0;
}

std::string Hex(const uint8_t* data, size_t len) {
    std::string out;
    out.reserve(len * 3);
    char hex[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", data[i]);
        out += hex;
    }
    return out;
}

std::string Seconds(uint64_t ms, uint64_t baseMs) {
    uint64_t rel = ms >= baseMs ? ms - baseMs : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(rel / 1000),
                  static_cast<unsigned long long>(rel % 1000));
    return text;
}

// "n" when all requested bytes moved, else "n/requested".
std::string Count(size_t len, uint32_t requested) {
    std::string n = std::to_string(len);
    return len == requested ? n : n + "/" + std::to_string(requested);
}

// What a read brought, as the block line tells it: "ACK", "41", "timeout (0/1)".
std::string ReplyText(const uint8_t* data, size_t len, uint32_t requested) {
    if (len == 0) return std::string("timeout (") + Count(len, requested) + ")";
    return len == 1 && ControlName(data[0]) != nullptr ? ControlName(data[0])
                                                       : TraceBytes(data, len);
}

// A bootloader block: STX, its number, the number's complement, data and CRC.
bool IsBlock(const uint8_t* data, size_t len) {
    return len > 5 && data[0] == STX && data[2] == static_cast<uint8_t>(~data[1]);
}

std::string LineText(const DCB& dcb) {
    static const char kParity[] = "NOEMS";
    static const char* const kStopBits[] = {"1", "1.5", "2"};
    char text[64];
    std::snprintf(text, sizeof text, "line %lu %u%c%s", static_cast<unsigned long>(dcb.BaudRate),
                  static_cast<unsigned>(dcb.ByteSize), dcb.Parity < 5 ? kParity[dcb.Parity] : '?',
                  dcb.StopBits < 3 ? kStopBits[dcb.StopBits] : "?");
    return text;
}

// "read 3000 ms, write 3000 ms" for the engine's time-outs; other forms say what they add.
std::string TimeoutsText(const COMMTIMEOUTS& t) {
    std::string read = "read ";
    if (t.ReadTotalTimeoutConstant == 0 && t.ReadTotalTimeoutMultiplier == 0)
        read += t.ReadIntervalTimeout == MAXDWORD ? "at once" : "without limit";
    else
        read += std::to_string(t.ReadTotalTimeoutConstant) + " ms";
    if (t.ReadTotalTimeoutMultiplier != 0)
        read += std::string(" + ") + std::to_string(t.ReadTotalTimeoutMultiplier) + " ms/B";
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD)
        read += std::string(", gap ") + std::to_string(t.ReadIntervalTimeout) + " ms";
    std::string write = "write ";
    if (t.WriteTotalTimeoutConstant == 0 && t.WriteTotalTimeoutMultiplier == 0)
        write += "without limit";
    else
        write += std::to_string(t.WriteTotalTimeoutConstant) + " ms";
    if (t.WriteTotalTimeoutMultiplier != 0)
        write += std::string(" + ") + std::to_string(t.WriteTotalTimeoutMultiplier) + " ms/B";
    return "time-outs " + read + ", " + write;
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

}  // namespace

std::string EscapeBytes(const uint8_t* data, size_t len) {
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        uint8_t b = data[i];
        if (b == '\r') {
            out += "\\r";
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

std::string TraceBytes(const uint8_t* data, size_t len) {
    if (IsText(data, len)) return EscapeBytes(data, len);
    std::string hex = Hex(data, len);
    const char* name = len == 1 ? ControlName(data[0]) : nullptr;
    return name != nullptr ? hex + " " + name : hex;
}

std::string FormatTraceLine(bool write, const uint8_t* data, size_t len, uint32_t requested,
                            uint64_t ms, uint64_t baseMs) {
    std::string line = Seconds(ms, baseMs) + (write ? " W " : " R ");
    if (!write && len == 0 && requested > 0) return line + ReplyText(data, len, requested);
    line += Count(len, requested);
    return len == 0 ? line : line + " " + TraceBytes(data, len);
}

std::string TraceEventText(const platform::LinkEvent& event) {
    using Kind = platform::LinkEventKind;
    std::string text;
    switch (event.kind) {
        case Kind::Open:
            if (!event.ok) return "open " + event.name + " failed: " + OpenErrorText(event.error);
            return "open " + event.name;
        case Kind::Close:
            return "close";
        case Kind::Line:
            text = LineText(event.dcb);
            break;
        case Kind::Timeouts:
            text = TimeoutsText(event.timeouts);
            break;
        case Kind::Purge:
            text = "purge input";
            break;
        case Kind::Pause:
            return std::string("pause ") + std::to_string(event.pauseMs) + " ms";
        case Kind::Peer:
            if (event.error != 0) return OpenErrorText(event.error);
            return "the server did not take " + std::to_string(event.dcb.BaudRate) +
                   " baud: its line is at " + std::to_string(event.peerBaud) + " baud";
    }
    return event.ok ? text : text + " refused";
}

std::string TraceHeader(const RecordFields& fields) {
    std::string image = fields.imageFile + ", " + std::to_string(fields.imageBytes) + " bytes";
    if (!fields.imageSha256.empty()) image += ", SHA-256 " + fields.imageSha256;
    return "# plcfwupdate " + fields.version + " link trace\n# started " + fields.start +
           "\n# port    " + fields.port + "\n# model   " + fields.model + "\n# image   " + image +
           "\n# blocks  " + std::to_string(fields.blocksTotal) +
           "\n# seconds since the first event; W written, R read; text as text, other bytes in "
           "hex\n";
}

TraceWriter::TraceWriter(std::ostream& out, uint32_t blocksTotal, bool data)
    : out_(out), blocksTotal_(blocksTotal), data_(data) {}

void TraceWriter::Line(uint64_t ms, const std::string& text) {
    if (!base_) base_ = ms;
    // Flushed line by line: an interrupted run ends the process without unwinding.
    out_ << Seconds(ms, *base_) << ' ' << text << std::endl;
}

void TraceWriter::EndPending(bool blockFollows) {
    if (block_) Line(block_->ms, block_->head + " -> no reply read");
    block_.reset();
    // The input is purged before every request; the block line stands for it.
    if (purgeAt_ && !(blockFollows && !data_)) Line(*purgeAt_, "purge input");
    purgeAt_.reset();
}

void TraceWriter::Exchange(bool write, const uint8_t* data, size_t len, uint32_t requested,
                           uint64_t ms) {
    if (!base_) base_ = ms;
    if (!write && block_) {
        Line(block_->ms, block_->head + " -> " + ReplyText(data, len, requested));
        block_.reset();
        return;
    }
    bool named = write && !requestName_.empty();
    bool block = write && !named && IsBlock(data, len);
    EndPending(block || named);
    if (!block && !named) {
        if (write) {  // a request between transfers: the counts start again
            lastPacket_ = -1;
            blockNumber_ = 0;
        }
        out_ << FormatTraceLine(write, data, len, requested, ms, *base_) << std::endl;
        return;
    }
    if (data_) out_ << FormatTraceLine(write, data, len, requested, ms, *base_) << std::endl;
    std::string head;
    if (named) {
        // A resend cannot be told from the next request of the name: each is counted.
        head = requestName_ + " " + std::to_string(++namedNumber_);
    } else {
        if (data[1] != lastPacket_) ++blockNumber_;  // a resend keeps its number
        lastPacket_ = data[1];
        head = std::string("block ") + std::to_string(blockNumber_);
        if (blocksTotal_ > 0) head += std::string("/") + std::to_string(blocksTotal_);
        head += std::string(" ") + Count(len, requested) + " B";
    }
    if (len < requested)
        Line(ms, head + " -> short write");
    else
        block_ = PendingBlock{ms, head};
}

void TraceWriter::Requests(const char* name) {
    std::string next = name != nullptr ? name : "";
    if (next != requestName_) namedNumber_ = 0;
    requestName_ = next;
}

void TraceWriter::Event(const platform::LinkEvent& event, uint64_t ms) {
    if (!base_) base_ = ms;
    bool purge = event.kind == platform::LinkEventKind::Purge && event.ok;
    EndPending(false);
    if (purge && !data_) {
        purgeAt_ = ms;
        return;
    }
    if (event.kind == platform::LinkEventKind::Timeouts && event.ok) {
        bool same = lastTimeouts_ && SameTimeouts(*lastTimeouts_, event.timeouts);
        lastTimeouts_ = event.timeouts;
        if (same && !data_) return;
    }
    if (event.kind == platform::LinkEventKind::Open || event.kind == platform::LinkEventKind::Close)
        lastTimeouts_.reset();
    Line(ms, TraceEventText(event));
}

void TraceWriter::Finish() {
    EndPending(false);
    out_.flush();
}

}  // namespace plccli
