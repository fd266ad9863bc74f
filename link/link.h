// The link layer below both protocols: what every exchange with the PLC stands on.
//   - SetLineSettings, SetupComLine: the serial line (a USB device may refuse; that is fine)
//   - SetLinkTimeouts: the read and write time-outs of an operation
//   - DiscardInput: drops the input that arrived before a request
//   - SettleLine: after a failed read, waits until the PLC has been quiet and drops what came
//   - LineStaysQuiet: the check before closing an erase or a transfer whose replies did not all
//     come whole
//   - RetryExchange: the one retry driver of every operation: write, read, judge, count
//   - NameRequests, SetRequestNamer: the name of the requests going out, for a trace
//
// Replies carry no sequence number: a one-byte ACK answers whatever was sent last. So no reply
// may be left over from an earlier request or attempt when a request goes out: the input is
// discarded before every request, and after a read that did not bring a whole reply (nothing came
// in time, too little came, or it came damaged) the line is left to settle, so that a reply that
// was merely late is dropped rather than taken for the reply to the resend. A whole refusal (NAK)
// is the PLC's fresh answer to that very request: nothing of it is still on its way, so the
// request goes out again at once. An exchange in which a read did not bring a whole reply settles
// once more after its accepted reply: the PLC may still answer the attempts it had queued.
#pragma once

#include <cstdint>
#include <functional>

#include "catalogue/catalogue.h"
#include "platform/platform.h"

// Failed writes and failed reads are each retried this many times; the next failure of either
// kind ends the operation.
#define LINK_RETRY_LIMIT 5

// Silence that tells a late reply is no longer on its way. A PLC that misses the 3000 ms read
// time-out (a slow page erase, a busy bootloader) answers within a fraction of a second of it.
#define SETTLE_QUIET_MS 1000

// The size of the reads with which DiscardInput and SettleLine read off the line; no reply of
// either protocol has this length.
#define DRAIN_READ_BYTES 64

// The line's speed, data bits and parity with one stop bit and DTR and RTS off; every other
// setting stays as the port has it.
void SetLineSettings(HANDLE h, DWORD baud, BYTE byteSize, BYTE parity);
// 9600 baud, 7 data bits, even parity, one stop bit, DTR and RTS off; COM-port models only.
void SetupComLine(HANDLE h);

// Every request written from now on goes out under name ("erase request"), until the next call;
// nullptr: no name. The namer, when one is set, is told on the calling thread.
using RequestNamer = std::function<void(const char* name)>;
void SetRequestNamer(RequestNamer namer);
void NameRequests(const char* name);
// Read and write totals of totalMs, multipliers 0, no interval limit: a read ends when all its
// bytes have arrived or totalMs has passed. A total of 0 reads what is there without waiting
// (ReadIntervalTimeout MAXDWORD). False when the handle refuses them (the operations go on
// regardless).
bool SetLinkTimeouts(HANDLE h, DWORD totalMs);

// Drops the input that has arrived and not been read. A handle that refuses PurgeComm (a USB
// device may) is read empty instead, with reads that do not wait; timeoutMs is the operation's
// time-out, set again afterwards.
void DiscardInput(HANDLE h, DWORD timeoutMs);
// Reads and drops whatever comes until the line has been quiet for SETTLE_QUIET_MS (a bounded
// number of reads), then sets the operation's time-outs again.
void SettleLine(HANDLE h, DWORD timeoutMs);

// Reads and drops whatever comes for quietMs (a bounded number of reads), then sets the
// operation's time-outs again: what a line makes while it changes its speed is no reply. A
// handle that refuses the time-outs only has its input discarded.
void DropLineGlitch(HANDLE h, DWORD quietMs, DWORD timeoutMs);

// After an operation in which a read brought no whole reply: waits SETTLE_QUIET_MS and tells
// whether nothing came.
// A reply that still arrives then answers a request the host has already counted as answered:
// host and PLC may be out of step, and what the host counted cannot be trusted.
bool LineStaysQuiet(HANDLE h, DWORD timeoutMs);

// What one attempt of an exchange came to.
enum Verdict : uint8_t {
    VERDICT_ACCEPTED,      // the reply the operation waits for
    VERDICT_READ_FAILED,   // no whole reply (none in time, too short, damaged, or not a reply
                           // to this request): the line settles, the request goes out again
    VERDICT_REFUSED,       // a whole reply that says the request was not carried out (NAK): a
                           // failed read, sent again at once, not counted against the budget
    VERDICT_WRITE_FAILED,  // a write of the attempt went out short
    VERDICT_ENDS,          // a reply that ends the operation at once (NOK to a block)
};

struct RetryRules {
    uint8_t failureLimit;   // LINK_RETRY_LIMIT, or smaller
    bool counts;            // failures shown in errCounter and totalErrCounter
    bool firstFailureEnds;  // one chance only
    DWORD timeoutMs;        // the operation's time-outs, set again after a settle
    uint32_t* sendBudget;   // requests that may still go out whole, counted down; nullptr: any
    bool* unsettled;        // set when an attempt's read brought no whole reply; nullptr: none
};

// A failed write or read: the counter grows and, when the rules say so, errCounter shows it and
// totalErrCounter grows by 1.
inline void CountFailure(uint8_t* counter, bool counts = true) {
    ++*counter;
    if (!counts) return;
    errCounter = *counter;
    totalErrCounter += 1;
}

// Sends with write() and judges with read() until an attempt is accepted or ends the exchange,
// or a failure counter passes the limit, or the send budget is spent. write() returns false when
// its bytes went out short; read() reads and judges the reply. Returns VERDICT_ACCEPTED,
// VERDICT_ENDS, or the kind of the last failure (VERDICT_READ_FAILED or VERDICT_WRITE_FAILED).
template <class Write, class Read>
Verdict RetryExchange(HANDLE h, const RetryRules& rules, Write write, Read read) {
    uint8_t werrCounter = 0;
    uint8_t rerrCounter = 0;
    bool unsettled = false;  // a read of this exchange brought no whole reply
    Verdict last = VERDICT_READ_FAILED;
    while (werrCounter <= rules.failureLimit && rerrCounter <= rules.failureLimit) {
        if (rules.sendBudget != nullptr && *rules.sendBudget == 0) break;
        DiscardInput(h, rules.timeoutMs);
        last = write() ? VERDICT_READ_FAILED : VERDICT_WRITE_FAILED;
        if (last == VERDICT_READ_FAILED) {
            if (rules.sendBudget != nullptr) --*rules.sendBudget;
            if (rules.counts) errCounter = rerrCounter;
            last = read();
            if (last == VERDICT_READ_FAILED) unsettled = true;
            if (unsettled && rules.unsettled != nullptr) *rules.unsettled = true;
        }
        if (last == VERDICT_ACCEPTED && unsettled) SettleLine(h, rules.timeoutMs);
        if (last == VERDICT_ACCEPTED || last == VERDICT_ENDS) return last;
        if (last == VERDICT_REFUSED && rules.sendBudget != nullptr) ++*rules.sendBudget;
        CountFailure(last == VERDICT_WRITE_FAILED ? &werrCounter : &rerrCounter, rules.counts);
        bool again = !rules.firstFailureEnds && werrCounter <= rules.failureLimit &&
                     rerrCounter <= rules.failureLimit;
        if (!again) break;
        if (last == VERDICT_READ_FAILED) SettleLine(h, rules.timeoutMs);
    }
    return last == VERDICT_REFUSED ? VERDICT_READ_FAILED : last;
}
