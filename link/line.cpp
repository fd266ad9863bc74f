#include "link/link.h"

void SetLineSettings(HANDLE h, DWORD baud, BYTE byteSize, BYTE parity) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(h, &dcb);  // every field not set below keeps the port's value
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(h, &dcb);
}

void SetupComLine(HANDLE h) {
    SetLineSettings(h, 9600, 7, EVENPARITY);
}

bool SetLinkTimeouts(HANDLE h, DWORD totalMs) {
    COMMTIMEOUTS timeouts{};
    // No interval limit: a read ends with all its bytes or at the total. An interval of MAXDWORD
    // would make Windows' serial driver return at once with a reply that has half arrived. With
    // a total of 0 the read takes what is there without waiting, which needs MAXDWORD (an
    // interval and total of 0 would mean no time-out at all).
    timeouts.ReadIntervalTimeout = totalMs == 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = totalMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = totalMs;
    return SetCommTimeouts(h, &timeouts) != FALSE;
}
