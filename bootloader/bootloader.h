// The bootloader protocol and the image source.
//   - CheckID_B, read_fu_version_B: "ID" and "VERSION", 3-byte replies
//   - SendErase_B: one "ERASE" per flash page and EOT, with the phase and progress
//   - SendUpdate, SendFW: "UPDATE", the line switch, numbered CRC-16 blocks and EOT
//   - the image cursor (LoadImage, FileRead, CloseFile) and CRC-16/XMODEM (CRC, crctab)
#pragma once

#include <cstdint>

#include "catalogue/catalogue.h"
#include "platform/platform.h"

#define BOOT_TIMEOUT_MS 3000

uint8_t CheckID_B(HANDLE hSerial);
uint8_t read_fu_version_B();
uint8_t SendErase_B(HANDLE hSerial);
uint8_t SendUpdate(HANDLE hSerial);
uint8_t SendFW(HANDLE hSerial);

extern const uint16_t crctab[256];
uint32_t CRC(const unsigned char* data, uint32_t len);

// Start of a run's image: locates the "BIN" resource PLCFW_BIN and sets hGLOBAL, fin and
// fileLength. Returns false when the executable carries no image (fin stays null).
bool LoadImage();
void FileRead(unsigned char* rxbuf, int32_t counter);
void CloseFile();
