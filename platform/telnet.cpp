#include "platform/telnet.h"

#include <algorithm>

namespace platform::telnet {

namespace {

// Longest subnegotiation kept: the COM-PORT-OPTION's are a few bytes; a longer one is cut.
constexpr size_t MAX_PAYLOAD_BYTES = 64;

// DCB parity and stop-bit codes   COM-PORT-OPTION values
const uint8_t kParity[] = {/*NOPARITY*/ 1, /*ODDPARITY*/ 2, /*EVENPARITY*/ 3, /*MARK*/ 4,
                           /*SPACE*/ 5};
const uint8_t kStopBits[] = {/*ONESTOPBIT*/ 1, /*ONE5STOPBITS*/ 3, /*TWOSTOPBITS*/ 2};

}  // namespace

void EscapeIac(const uint8_t* data, size_t n, std::vector<uint8_t>* out) {
    for (size_t i = 0; i < n; ++i) {
        out->push_back(data[i]);
        if (data[i] == IAC) out->push_back(IAC);
    }
}

size_t TelnetDecoder::Decode(const uint8_t* raw, size_t n, uint8_t* data, size_t* dataLen,
                             Command* command, bool* haveCommand) {
    *haveCommand = false;
    for (size_t i = 0; i < n; ++i) {
        if (Step(raw[i], data, dataLen, command)) {
            *haveCommand = true;
            return i + 1;
        }
    }
    return n;
}

// One raw byte; true when it completed a command.
bool TelnetDecoder::Step(uint8_t b, uint8_t* data, size_t* dataLen, Command* command) {
    switch (state_) {
        case State::Data:
            if (b == IAC) state_ = State::Iac;
            else data[(*dataLen)++] = b;
            return false;
        case State::SbIac:
            if (b == IAC) {
                if (pending_.payload.size() < MAX_PAYLOAD_BYTES) pending_.payload.push_back(b);
                state_ = State::SbData;
                return false;
            }
            state_ = State::Data;
            if (b == SE) {
                *command = std::move(pending_);
                pending_ = Command{};
                return true;
            }
            // A subnegotiation cut short by another command: that command counts.
            pending_ = Command{};
            state_ = State::Iac;
            return Step(b, data, dataLen, command);
        case State::Iac:
            state_ = State::Data;
            if (b == IAC) {
                data[(*dataLen)++] = b;
            } else if (b >= WILL) {
                pending_.verb = b;
                state_ = State::Verb;
            } else if (b == SB) {
                pending_.verb = SB;
                state_ = State::SbOption;
            }
            return false;  // other commands (NOP, break, go-ahead...) mean nothing on this line
        case State::Verb:
            pending_.option = b;
            *command = std::move(pending_);
            pending_ = Command{};
            state_ = State::Data;
            return true;
        case State::SbOption:
            pending_.option = b;
            state_ = State::SbData;
            return false;
        case State::SbData:
            if (b == IAC) state_ = State::SbIac;
            else if (pending_.payload.size() < MAX_PAYLOAD_BYTES) pending_.payload.push_back(b);
            return false;
    }
    return false;
}

bool TelnetOptions::Listed(const std::vector<uint8_t>& list, uint8_t o) {
    return std::find(list.begin(), list.end(), o) != list.end();
}

std::vector<uint8_t> TelnetOptions::Request(uint8_t verb, uint8_t option) {
    Side& side = (verb == WILL ? us_ : them_)[option];
    if (side == Side::On || side == Side::Asked) return {};
    side = Side::Asked;
    return {IAC, verb, option};
}

std::vector<uint8_t> TelnetOptions::Answer(uint8_t verb, uint8_t option) {
    bool aboutUs = verb == DO || verb == DONT;
    bool wants = verb == DO || verb == WILL;
    Side& side = (aboutUs ? us_ : them_)[option];
    if (aboutUs) answered_[option] = true;
    uint8_t agree = aboutUs ? WILL : DO, refuse = aboutUs ? WONT : DONT;
    // state     peer wants it on                        peer wants it off
    // Off       on and agree, or refuse (Refused)       nothing
    // On        nothing                                 off and refuse
    // Asked     on, nothing (it answered us)            off, nothing (it answered us)
    // Refused   nothing (refused already)               off, nothing (it took it back)
    switch (side) {
        case Side::Off:
            if (!wants) return {};
            if (Listed(aboutUs ? ours_ : theirs_, option)) {
                side = Side::On;
                return {IAC, agree, option};
            }
            side = Side::Refused;
            return {IAC, refuse, option};
        case Side::On:
            if (wants) return {};
            side = Side::Off;
            return {IAC, refuse, option};
        case Side::Asked:
            side = wants ? Side::On : Side::Off;
            return {};
        case Side::Refused:
            if (!wants) side = Side::Off;
            return {};
    }
    return {};
}

std::vector<uint8_t> ComPortCommand(uint8_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out = {IAC, SB, OPT_COM_PORT, command};
    EscapeIac(payload.data(), payload.size(), &out);
    out.push_back(IAC);
    out.push_back(SE);
    return out;
}

bool LineCommands(const LineSettings& s, std::vector<uint8_t>* out) {
    if (s.baud == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity >= std::size(kParity) ||
        s.stopBits >= std::size(kStopBits))
        return false;
    auto add = [out](uint8_t cmd, std::vector<uint8_t> payload) {
        std::vector<uint8_t> c = ComPortCommand(cmd, payload);
        out->insert(out->end(), c.begin(), c.end());
    };
    // The speed in network byte order.
    add(SET_BAUDRATE, {static_cast<uint8_t>(s.baud >> 24), static_cast<uint8_t>(s.baud >> 16),
                       static_cast<uint8_t>(s.baud >> 8), static_cast<uint8_t>(s.baud)});
    add(SET_DATASIZE, {s.byteSize});
    add(SET_PARITY, {kParity[s.parity]});
    add(SET_STOPSIZE, {kStopBits[s.stopBits]});
    add(SET_CONTROL, {s.dtr ? CONTROL_DTR_ON : CONTROL_DTR_OFF});
    add(SET_CONTROL, {s.rts ? CONTROL_RTS_ON : CONTROL_RTS_OFF});
    return true;
}

bool ApplyComPortCommand(const Command& c, LineSettings* s) {
    if (c.verb != SB || c.option != OPT_COM_PORT || c.payload.size() < 2) return false;
    const std::vector<uint8_t>& p = c.payload;
    auto indexOf = [&](const uint8_t* table, size_t n, uint8_t* out) {
        for (size_t i = 0; i < n; ++i)
            if (table[i] == p[1]) return *out = static_cast<uint8_t>(i), true;
        return false;
    };
    switch (p[0]) {
        case SET_BAUDRATE: {
            if (p.size() < 5) return false;
            uint32_t baud = uint32_t{p[1]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 8 | p[4];
            if (baud == 0) return false;
            s->baud = baud;
            return true;
        }
        case SET_DATASIZE:
            if (p[1] < 5 || p[1] > 8) return false;
            s->byteSize = p[1];
            return true;
        case SET_PARITY:
            return indexOf(kParity, std::size(kParity), &s->parity);
        case SET_STOPSIZE:
            return indexOf(kStopBits, std::size(kStopBits), &s->stopBits);
        case SET_CONTROL:
            if (p[1] == CONTROL_DTR_ON || p[1] == CONTROL_DTR_OFF) s->dtr = p[1] == CONTROL_DTR_ON;
            else if (p[1] == CONTROL_RTS_ON || p[1] == CONTROL_RTS_OFF) s->rts = p[1] == CONTROL_RTS_ON;
            else return false;
            return true;
        default:
            return false;
    }
}

}  // namespace platform::telnet
