// The mapping between a DCB and termios: pure functions, so the table of cases is tested
// without a serial port.
#pragma once

#include <termios.h>

#include "platform/platform.h"

namespace platform {

// Raw mode with the DCB's speed, data bits (5 to 8), parity (none, odd, even), stop bits (one
// or two), receiver on, modem lines ignored. Returns false for a setting termios cannot express.
bool DcbToTermios(const DCB& dcb, termios* t);
// Fills the DCB's speed, data bits, parity and stop bits from t.
void TermiosToDcb(const termios& t, DCB* dcb);
// The modem lines a DCB asks for: TIOCM_DTR and TIOCM_RTS bits to raise; every other control
// (DISABLE, and the handshake modes termios cannot drive) holds the line off.
int DcbModemLinesOn(const DCB& dcb);
speed_t BaudToSpeed(DWORD baud);   // B0 when unsupported
DWORD SpeedToBaud(speed_t speed);  // 0 when unknown

}  // namespace platform
