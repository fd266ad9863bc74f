// The application-mode link protocol: ASCII frames with an LRC, as the PLC's application
// firmware speaks them.
//   - CheckLRC: decodes a reply in place and sums its bytes (0 = accepted)
//   - the fixed request frames (frames.h), the COM-port line setup and the link time-outs
//   - DummyComm: the wake-up burst before every mode probe
//   - ConfirmComm: the mode probe (ENQ = application firmware, ACK = bootloader)
//   - CheckID_A, READ_D1386, READ_D1001, READ_D1148, read_fu_version_A, read_0x67_PLCID
//   - SendErase_A: the request that sends the PLC into its bootloader
#pragma once

#include <cstdint>

#include "catalogue/catalogue.h"
#include "platform/platform.h"

#define READ_TIMEOUT_MS 3000
#define WAKEUP_TIMEOUT_MS 200

uint8_t CheckLRC(uint8_t* buf, uint8_t len);

// The line's speed, data bits and parity with one stop bit and DTR and RTS off; every other
// setting stays as the port has it.
void SetLineSettings(HANDLE h, DWORD baud, BYTE byteSize, BYTE parity);
// 9600 baud, 7 data bits, even parity, one stop bit, DTR and RTS off; COM-port models only.
void SetupComLine(HANDLE h);
// ReadIntervalTimeout MAXDWORD, multipliers 0, read and write totals of totalMs.
void SetLinkTimeouts(HANDLE h, DWORD totalMs);

void DummyComm(HANDLE hSerial);
uint8_t ConfirmComm(HANDLE hSerial);
uint8_t CheckID_A(HANDLE hSerial);
uint16_t READ_D1386(HANDLE hSerial);
uint16_t READ_D1001(HANDLE hSerial);
uint16_t READ_D1148(HANDLE hSerial);
uint8_t read_fu_version_A();
uint16_t read_0x67_PLCID();
uint8_t SendErase_A(HANDLE hSerial);

// QM2-C-V2, QM2-C-V4, TR2-CAR: they leave for their bootloader without answering SendErase_A.
extern const ModelSet NO_REPLY_MODELS;
