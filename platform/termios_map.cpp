#include "platform/termios_map.h"

#include <sys/ioctl.h>

#include <cstring>

namespace platform {

namespace {

struct BaudRow {
    DWORD baud;
    speed_t speed;
};

// baud       termios speed
const BaudRow kBauds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

}  // namespace

speed_t BaudToSpeed(DWORD baud) {
    for (const BaudRow& row : kBauds)
        if (row.baud == baud) return row.speed;
    return B0;
}

DWORD SpeedToBaud(speed_t speed) {
    for (const BaudRow& row : kBauds)
        if (row.speed == speed) return row.baud;
    return 0;
}

bool DcbToTermios(const DCB& dcb, termios* t) {
    speed_t speed = BaudToSpeed(dcb.BaudRate);
    if (speed == B0) return false;
    tcflag_t size;
    switch (dcb.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    tcflag_t parity;
    switch (dcb.Parity) {
        case NOPARITY:
            parity = 0;
            break;
        case ODDPARITY:
            parity = PARENB | PARODD;
            break;
        case EVENPARITY:
            parity = PARENB;
            break;
        default:
            return false;
    }
    tcflag_t stop;
    switch (dcb.StopBits) {
        case ONESTOPBIT:
            stop = 0;
            break;
        case TWOSTOPBITS:
            stop = CSTOPB;
            break;
        default:
            return false;
    }
    std::memset(t, 0, sizeof *t);
    t->c_iflag = parity ? INPCK : IGNPAR;
    t->c_oflag = 0;
    t->c_lflag = 0;
    t->c_cflag = size | parity | stop | CREAD | CLOCAL;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, speed);
    cfsetospeed(t, speed);
    return true;
}

void TermiosToDcb(const termios& t, DCB* dcb) {
    dcb->BaudRate = SpeedToBaud(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb->ByteSize = 5;
            break;
        case CS6:
            dcb->ByteSize = 6;
            break;
        case CS7:
            dcb->ByteSize = 7;
            break;
        default:
            dcb->ByteSize = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        dcb->Parity = NOPARITY;
    else
        dcb->Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb->StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb->fParity = (t.c_cflag & PARENB) ? 1 : 0;
}

int DcbModemLinesOn(const DCB& dcb) {
    int on = 0;
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE) on |= TIOCM_DTR;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE) on |= TIOCM_RTS;
    return on;
}

}  // namespace platform
