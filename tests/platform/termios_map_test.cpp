#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "platform/termios_map.h"

namespace {

DCB Dcb(DWORD baud, BYTE size, BYTE parity, BYTE stop) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baud;
    d.ByteSize = size;
    d.Parity = parity;
    d.StopBits = stop;
    return d;
}

struct MapCase {
    const char* name;
    DCB dcb;
    tcflag_t size;
    bool parenb;
    bool parodd;
    bool cstopb;
    speed_t speed;
};

TEST(DcbToTermios, MapsTheLineSettingsOfBothProtocols) {
    const MapCase cases[] = {
        {"9600 7E1", Dcb(9600, 7, EVENPARITY, ONESTOPBIT), CS7, true, false, false, B9600},
        {"115200 8N1", Dcb(115200, 8, NOPARITY, ONESTOPBIT), CS8, false, false, false, B115200},
        {"9600 7O2", Dcb(9600, 7, ODDPARITY, TWOSTOPBITS), CS7, true, true, true, B9600},
        {"19200 8E2", Dcb(19200, 8, EVENPARITY, TWOSTOPBITS), CS8, true, false, true, B19200},
    };
    for (const MapCase& c : cases) {
        termios t{};
        ASSERT_TRUE(platform::DcbToTermios(c.dcb, &t)) << c.name;
        EXPECT_EQ(t.c_cflag & CSIZE, c.size) << c.name;
        EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parenb) << c.name;
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parodd) << c.name;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb) << c.name;
        // With parity on, the receiver checks it: a damaged reply is not taken as data.
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parenb) << c.name;
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.name;
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.name;
        // Raw: no echo, no canonical input, no output processing, modem lines ignored.
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << c.name;
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << c.name;
        EXPECT_NE(t.c_cflag & (CLOCAL | CREAD), 0u) << c.name;

        DCB back{};
        platform::TermiosToDcb(t, &back);
        EXPECT_EQ(back.BaudRate, c.dcb.BaudRate) << c.name;
        EXPECT_EQ(back.ByteSize, c.dcb.ByteSize) << c.name;
        EXPECT_EQ(back.Parity, c.dcb.Parity) << c.name;
        EXPECT_EQ(back.StopBits, c.dcb.StopBits) << c.name;
    }
}

TEST(DcbToTermios, RefusesWhatTermiosCannotExpress) {
    const DCB bad[] = {
        Dcb(12345, 8, NOPARITY, ONESTOPBIT),   // no such speed
        Dcb(9600, 9, NOPARITY, ONESTOPBIT),    // no 9-bit characters
        Dcb(9600, 8, 3, ONESTOPBIT),           // mark parity
        Dcb(9600, 8, NOPARITY, ONE5STOPBITS),  // 1.5 stop bits
    };
    for (const DCB& d : bad) {
        termios t{};
        EXPECT_FALSE(platform::DcbToTermios(d, &t)) << d.BaudRate << " " << int(d.ByteSize);
    }
}

}  // namespace

// The engine asks for DTR and RTS off on both lines: a PLC port must not see them raised.
TEST(DcbModemLines, OnlyEnableRaisesALine) {
    const struct {
        DWORD dtr, rts;
        int on;
    } cases[] = {{DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0},
                 {DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, TIOCM_DTR},
                 {DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, TIOCM_RTS},
                 {2, 2, 0}};  // handshake modes: held off
    for (const auto& c : cases) {
        DCB d = Dcb(9600, 7, EVENPARITY, ONESTOPBIT);
        d.fDtrControl = c.dtr;
        d.fRtsControl = c.rts;
        EXPECT_EQ(platform::DcbModemLinesOn(d), c.on);
    }
}
