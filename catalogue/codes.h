// Control bytes of both PLC protocols and the result byte of every protocol operation.
// A failure of an application-mode operation is ERR with one detail code in the low four bits.
#pragma once

#define OK 0x00
#define STX 0x02
#define EOT 0x04
#define ENQ 0x05
#define ACK 0x06
#define NAK 0x15
#define NOK 0x16
#define SUB 0x1A

#define ERR 0x10
#define FLOWERROR_STATE1 0x01
#define FLOWERROR_STATE2 0x02
#define FLOWERROR_STATE3 0x03
#define FLOWERROR_STATE4 0x04
#define FLOWERROR_STATE_UNKNOWN 0x05
#define RUNMODE 0x06
#define UNKNOWN_ERROR_CODE 0x07
#define NORESPONSE 0x08
