// The Telnet layer of a serial line carried over TCP with the COM-PORT-OPTION (both ends: the
// platform's rfc2217 link and the simulator's server):
//   - EscapeIac: data bytes as they travel, 0xFF doubled
//   - TelnetDecoder: received bytes split into data and commands, across any read boundaries
//   - TelnetOptions: the answers to the peer's WILL/WONT/DO/DONT, without negotiation loops
//   - ComPortCommand / LineCommands: the subnegotiations that set the far end's line
//   - ApplyComPortCommand: a received line setting applied to LineSettings (the server side)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/virtual.h"

namespace platform::telnet {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OPT_BINARY = 0, OPT_SGA = 3, OPT_COM_PORT = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the code plus 100.
constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4,
                  SET_CONTROL = 5, PURGE_DATA = 12;
constexpr uint8_t SERVER_REPLY_OFFSET = 100;
// SET-CONTROL values for the modem lines; PURGE-DATA value for the server's receive buffer (the
// bytes from the serial device not yet sent to the client).
constexpr uint8_t CONTROL_DTR_ON = 8, CONTROL_DTR_OFF = 9, CONTROL_RTS_ON = 11,
                  CONTROL_RTS_OFF = 12, PURGE_RECEIVE = 1;

// Appends data to out with every IAC byte doubled.
void EscapeIac(const uint8_t* data, size_t n, std::vector<uint8_t>* out);

// A command found in the stream: a negotiation (verb WILL/WONT/DO/DONT and its option) or a
// subnegotiation (verb SB, its option and its unescaped payload).
struct Command {
    uint8_t verb = 0;
    uint8_t option = 0;
    std::vector<uint8_t> payload;
};

class TelnetDecoder {
public:
    // Takes raw bytes until all are taken or one command is complete; the data bytes among them
    // are appended at data + *dataLen (never more than the raw bytes taken). Returns the count
    // of raw bytes taken; *command is filled and *haveCommand set when a command completed.
    size_t Decode(const uint8_t* raw, size_t n, uint8_t* data, size_t* dataLen, Command* command,
                  bool* haveCommand);

private:
    enum class State : uint8_t { Data, Iac, Verb, SbOption, SbData, SbIac };
    bool Step(uint8_t b, uint8_t* data, size_t* dataLen, Command* command);
    State state_ = State::Data;
    Command pending_;
};

// Which options each side may enable, and which are on: the loop-free negotiation of RFC 1143
// (each side of an option is off, on, or asked for). An answer goes out only when the state
// changes, and a refusal once until the peer takes it back, so that a peer repeating a request
// (two ends answering each other, or a flood) never gets one answer per request.
class TelnetOptions {
public:
    TelnetOptions(std::vector<uint8_t> ours, std::vector<uint8_t> theirs)
        : ours_(std::move(ours)), theirs_(std::move(theirs)) {}
    // Our own request (WILL or DO) for an option of our lists: marked asked for, returned to be
    // sent; empty when it is already on or asked for.
    std::vector<uint8_t> Request(uint8_t verb, uint8_t option);
    // The answer to the peer's negotiation; empty when none is due.
    std::vector<uint8_t> Answer(uint8_t verb, uint8_t option);
    bool UsOn(uint8_t option) const { return Get(false, option) == Side::On; }
    bool ThemOn(uint8_t option) const { return Get(true, option) == Side::On; }
    // The peer answered DO or DONT to our WILL of the option.
    bool PeerAnswered(uint8_t option) const {
        return answered_[option] && Get(false, option) != Side::Asked;
    }
    bool PeerAgreed(uint8_t option) const { return UsOn(option); }

private:
    // Off and Refused are both off; Refused: the peer's request was refused and not taken back.
    enum class Side : uint8_t { Off, On, Asked, Refused };
    Side Get(bool them, uint8_t o) const { return (them ? them_ : us_)[o]; }
    static bool Listed(const std::vector<uint8_t>& list, uint8_t o);
    std::vector<uint8_t> ours_, theirs_;
    Side us_[256] = {}, them_[256] = {};
    bool answered_[256] = {};
};

// IAC SB COM-PORT-OPTION command payload IAC SE, the payload escaped.
std::vector<uint8_t> ComPortCommand(uint8_t command, const std::vector<uint8_t>& payload);
// The subnegotiations that set the far end's line to s: speed, data bits, parity, stop bits,
// DTR and RTS. False for a setting the option cannot express.
bool LineCommands(const LineSettings& s, std::vector<uint8_t>* out);
// Applies one received COM-PORT-OPTION command to *s; true when it was a line setting. A value
// of 0 asks for the current setting and changes nothing.
bool ApplyComPortCommand(const Command& c, LineSettings* s);

}  // namespace platform::telnet
