// The request-and-reply loop shared by the application-mode operations, and the pieces it is
// made of (also used by SendErase_A, whose loop adds a confirmation write).
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "platform/platform.h"

// Every reply of the application-mode protocol fits; register replies use the first 15 bytes.
#define RX_BUF_BYTES 19

// Attempts go on while both the write and the read failure counters are at most this: the
// sixth failure of one kind ends an operation.
#define APP_FAILURE_LIMIT LINK_RETRY_LIMIT

// Decoded byte k of a reply lies at rxBuf[k + 1]: CheckLRC decodes in place from rxBuf[1].
inline uint8_t Decoded(const uint8_t* rxBuf, int k) {
    return rxBuf[k + 1];
}

// Whether a reply that passed the length and LRC tests is the one the operation waits for.
typedef bool (*ReplyTest)(const uint8_t* rxBuf);

// One request-and-reply operation.
struct Exchange {
    const char* request;   // a fixed frame of frames.h
    uint8_t replyChars;    // REPLY_CHARS or REGISTER_REPLY_CHARS
    ReplyTest accepts;     // nullptr: length and LRC alone decide
    uint8_t failureLimit;  // APP_FAILURE_LIMIT, or smaller for the id read
    bool counts;           // whether failures go to errCounter and totalErrCounter
};

// Clears rxBuf and sends the request until a reply is accepted (true, the decoded reply in
// rxBuf) or one failure counter passes the limit (false, rxBuf holding what the last read left).
// Sets no line settings; the caller sets the READ_TIMEOUT_MS time-outs first.
bool RunExchange(HANDLE h, const Exchange& x, uint8_t rxBuf[RX_BUF_BYTES]);

// Writes a whole fixed frame; false when the link took fewer bytes.
bool WriteFrame(HANDLE h, const char* frame);
// Clears rxBuf and reads up to replyChars bytes into it; returns the count that arrived.
DWORD ReadReply(HANDLE h, uint8_t rxBuf[RX_BUF_BYTES], uint8_t replyChars);
// Exactly replyChars arrived and the characters after the first one decode (in place) to a
// zero sum. The closing CR LF is not examined.
bool ReplyIntact(uint8_t rxBuf[RX_BUF_BYTES], DWORD got, uint8_t replyChars);

// Function code of the replies that carry a status (ACK or NAK) in decoded byte 4.
#define STATUS_FUNCTION 0x64
// Whether an intact reply (ReplyIntact) is a status reply that says NAK: the PLC took this very
// request and refused it, so no other reply to it is on its way.
bool ReplyRefuses(const uint8_t rxBuf[RX_BUF_BYTES], uint8_t replyChars);

// One row of a refusal table: the result for a NAK of this error class and flow state.
#define ANY_VALUE (-1)
struct NakRule {
    int errorClass;  // decoded byte 5, or ANY_VALUE
    int flowState;   // decoded byte 6, or ANY_VALUE
    uint8_t result;
};

// The result once the retries are exhausted, from decoded bytes 4 to 6 of whatever the last read
// left in rxBuf: no NAK status gives ERR|NORESPONSE, otherwise the first matching row.
uint8_t ClassifyLastReply(const uint8_t rxBuf[RX_BUF_BYTES], const NakRule* rules, size_t rows);
