// The bootloader's request words and the one-byte-acknowledged exchange that "ERASE", "UPDATE",
// the blocks and EOT share.
#pragma once

#include <cstdint>

#include "link/link.h"
#include "platform/platform.h"

// Request words: bare ASCII, no terminator, length prefix or checksum (sizeof - 1 bytes).
#define REQUEST_ID "ID"
#define REQUEST_VERSION "VERSION"
#define REQUEST_ERASE "ERASE"
#define REQUEST_UPDATE "UPDATE"
// The name under which each page's erase request goes out (see NameRequests).
#define ERASE_REQUEST_NAME "erase request"

// Failed writes and failed reads are each retried this many times; the next failure of either
// kind ends the exchange.
#define BOOT_RETRY_LIMIT LINK_RETRY_LIMIT

// Options of AckExchange: the first failed write or read ends it (4 KiB-page erase); a NOK reply
// ends it with NOK (flash write refused).
#define EXCHANGE_FIRST_FAILURE_ENDS 0x01
#define EXCHANGE_NOK_ENDS 0x02

// Writes the n bytes of tx; false when fewer went out.
bool WriteAll(HANDLE h, const void* tx, DWORD n);

// When the last attempt of an exchange began its write, when the write returned and when its
// read returned, on the link's clock (LinkClockUs).
struct ExchangeTimes {
    uint64_t writeBeganUs = 0;
    uint64_t writeEndedUs = 0;
    uint64_t readEndedUs = 0;
};

// Writes the n bytes of tx and reads a one-byte reply, again and again while both retry counters
// allow it; every failure is counted into errCounter and totalErrCounter. Returns OK when the
// reply is ACK (errCounter is left to the caller), NOK as EXCHANGE_NOK_ENDS says, else ERR.
// With a sendBudget, every request that goes out whole counts it down, and none goes out once
// it is 0 (ERR).
// With unsettled, it is set when a read brought no whole reply (see RetryRules). With times,
// the times of the last attempt.
uint8_t AckExchange(HANDLE h, const uint8_t* tx, DWORD n, unsigned options,
                    uint32_t* sendBudget = nullptr, bool* unsettled = nullptr,
                    ExchangeTimes* times = nullptr);
