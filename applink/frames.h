// Every request frame of the application-mode protocol, as fixed text. Each frame's LRC makes
// the 8-bit sum of its decoded bytes 0; the tests check that for every row.
#pragma once

// Frame                                                       decoded bytes (hex)
#define FRAME_WAKEUP ":007F81\r\n"                              // 00 7F 81
#define FRAME_PROBE_AIO ":0064015B013F\r\n"                     // 00 64 01 5B 01 3F
#define FRAME_PROBE ":006401590141\r\n"                         // 00 64 01 59 01 41
#define FRAME_ID_AIO ":0064015B4944B3\r\n"                      // 00 64 01 5B 49 44 B3
#define FRAME_ID ":006401594944B5\r\n"                          // 00 64 01 59 49 44 B5
#define FRAME_READ_D1386 ":0003156A00017D\r\n"                  // 00 03 15 6A 00 01 7D
#define FRAME_READ_D1001 ":000313E9000100\r\n"                  // 00 03 13 E9 00 01 00
#define FRAME_READ_D1148 ":0003147C00016C\r\n"                  // 00 03 14 7C 00 01 6C
#define FRAME_VERSION ":00640159053D\r\n"                       // 00 64 01 59 05 3D
#define FRAME_PLCID_0x67 ":00670013000284\r\n"                  // 00 67 00 13 00 02 84
#define FRAME_ENTER_BOOT_AIO ":0064015B4552415345D0\r\n"        // 00 64 01 5B 45 52 41 53 45 D0
#define FRAME_ENTER_BOOT ":006401594552415345D2\r\n"            // 00 64 01 59 45 52 41 53 45 D2
#define FRAME_CONFIRM_AIO ":0064015B063A\r\n"                   // 00 64 01 5B 06 3A
#define FRAME_CONFIRM ":00640159063C\r\n"                       // 00 64 01 59 06 3C

// Reply lengths in characters: functions 0x64 and 0x67, function 0x03, the wake-up burst.
#define REPLY_CHARS 19
#define REGISTER_REPLY_CHARS 15
#define WAKEUP_REPLY_CHARS 11
