// The application-mode link protocol: ASCII frames with an LRC, as the PLC's application
// firmware speaks them.
//   - CheckLRC: decodes a reply in place and sums its bytes (0 = accepted)
//   - the fixed request frames (frames.h); line settings and time-outs come from link/
//   - DummyComm: the wake-up burst before every mode probe
//   - ConfirmComm: the mode probe (ENQ = application firmware, ACK = bootloader)
//   - SendWakeupFrame, SendProbeFrame, IsProbeReply: the pieces of a station's look, which
//     writes requests without waiting for their replies and recognises a probe reply in
//     whatever the line brings
//   - CheckID_A, READ_D1386, READ_D1001, READ_D1148, read_fu_version_A, read_0x67_PLCID
//   - SendErase_A: the request that sends the PLC into its bootloader
#pragma once

#include <cstdint>

#include "catalogue/catalogue.h"
#include "link/link.h"
#include "platform/platform.h"

#define READ_TIMEOUT_MS 3000
#define WAKEUP_TIMEOUT_MS 200

uint8_t CheckLRC(uint8_t* buf, uint8_t len);

void DummyComm(HANDLE hSerial);
uint8_t ConfirmComm(HANDLE hSerial);
// One wake-up frame, one mode probe of the selected model: false when the link took less.
bool SendWakeupFrame(HANDLE hSerial);
bool SendProbeFrame(HANDLE hSerial);
// Whether the REPLY_CHARS characters at text (':' to LF) are a whole reply to the mode probe, as
// either firmware gives it: the LRC holds, and the status is ENQ, ACK or a refusal (NAK).
bool IsProbeReply(const uint8_t* text);
uint8_t CheckID_A(HANDLE hSerial);
uint16_t READ_D1386(HANDLE hSerial);
uint16_t READ_D1001(HANDLE hSerial);
uint16_t READ_D1148(HANDLE hSerial);
uint8_t read_fu_version_A();
uint16_t read_0x67_PLCID();
uint8_t SendErase_A(HANDLE hSerial);

