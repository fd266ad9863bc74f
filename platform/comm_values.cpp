// What a DCB and a COMMTIMEOUTS ask of a link, as every kind of link reads them.
#include "platform/link.h"

namespace platform {

LineSettings LineFromDcb(const DCB& dcb) {
    LineSettings s;
    s.baud = dcb.BaudRate;
    s.byteSize = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stopBits = dcb.StopBits;
    s.dtr = dcb.fDtrControl == DTR_CONTROL_ENABLE;
    s.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
    return s;
}

uint64_t ReadTotalMs(const COMMTIMEOUTS& t, DWORD n) {
    return uint64_t{t.ReadTotalTimeoutMultiplier} * n + t.ReadTotalTimeoutConstant;
}

uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD n) {
    return uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
}

ReadRule WindowsReadRule(const COMMTIMEOUTS& t, DWORD n) {
    if (t.ReadIntervalTimeout != MAXDWORD || t.ReadTotalTimeoutConstant == MAXDWORD)
        return {ReadTotalMs(t, n), false, false};
    if (t.ReadTotalTimeoutMultiplier == MAXDWORD) return {t.ReadTotalTimeoutConstant, true, true};
    return {ReadTotalMs(t, n), true, false};
}

}  // namespace platform
