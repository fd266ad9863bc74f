// The constant tables that turn a model or a result byte into the run's messages.
#include "bootloader/bootloader.h"
#include "update/stages.h"
#include "update/update.h"

namespace {

#define MSG_TOO_SMALL_4K "The file size is TOO SMALL (4 * 1024)"
#define MSG_EMPTY "The firmware image is EMPTY"

// The texts are fixed and do not follow from the limits of classes 3 and 6.
// clang-format off
// Size class   message when too large                                           message when too small
const SizeClass kSizeClasses[SIZE_CLASS_COUNT] = {
    /* 0 */ {nullptr,                                                    nullptr},
    /* 1 */ {"The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)",  MSG_EMPTY},
    /* 2 */ {"The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)",  MSG_EMPTY},
    /* 3 */ {"The file size EXCEEDS the MAXIMUM size (4 * 1024)",        MSG_EMPTY},
    /* 4 */ {"The file size EXCEEDS the MAXIMUM size (40 * 1024)",       MSG_EMPTY},
    /* 5 */ {"The file size EXCEEDS the MAXIMUM size (2028 * 1024)",     MSG_TOO_SMALL_4K},
    /* 6 */ {"The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)",  MSG_EMPTY},
};
// clang-format on

// Low four bits of a ConfirmComm failure -> message.
const char* const kState1Messages[16] = {
    /* 0 */ "UNKNOWN MESSAGE",
    /* 1 FLOWERROR_STATE1 */ MSG_PLC_TYPE_WRONG,
    /* 2 FLOWERROR_STATE2 */ MSG_PLC_TYPE_WRONG,
    /* 3 */ "UNKNOWN MESSAGE",
    /* 4 */ "UNKNOWN MESSAGE",
    /* 5 FLOWERROR_STATE_UNKNOWN */ MSG_PLC_TYPE_WRONG,
    /* 6 RUNMODE */ "PLC in RUN MODE",
    /* 7 UNKNOWN_ERROR_CODE */ "UNKNOWN ERROR CODE @ State 1",
    /* 8 NORESPONSE */ "NO RESPONSE @ State 1",
    "UNKNOWN MESSAGE", "UNKNOWN MESSAGE", "UNKNOWN MESSAGE", "UNKNOWN MESSAGE",
    "UNKNOWN MESSAGE", "UNKNOWN MESSAGE", "UNKNOWN MESSAGE",
};

// Low four bits of a CheckID_A failure -> message.
const char* const kState2Messages[16] = {
    /* 0 */ "UNKNOWN MESSAGE @ State 2",
    /* 1 */ "UNKNOWN MESSAGE @ State 2",
    /* 2 FLOWERROR_STATE2 */ MSG_PLC_TYPE_WRONG,
    /* 3 FLOWERROR_STATE3 */ MSG_PLC_TYPE_WRONG,
    /* 4 */ "UNKNOWN MESSAGE @ State 2",
    /* 5 FLOWERROR_STATE_UNKNOWN */ MSG_PLC_TYPE_WRONG,
    /* 6 */ "UNKNOWN MESSAGE @ State 2",
    /* 7 UNKNOWN_ERROR_CODE */ "UNKNOWN ERROR CODE @ State 2",
    /* 8 NORESPONSE */ "NO RESPONSE @ State 2",
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2",
    "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 2",
    "UNKNOWN MESSAGE @ State 2",
};

// Low four bits of a SendErase_A failure -> message.
const char* const kState3Messages[16] = {
    /* 0 */ "UNKNOWN MESSAGE @ State 3",
    /* 1 */ "UNKNOWN MESSAGE @ State 3",
    /* 2 */ "UNKNOWN MESSAGE @ State 3",
    /* 3 FLOWERROR_STATE3 */ MSG_PLC_TYPE_WRONG,
    /* 4 FLOWERROR_STATE4 */ MSG_PLC_TYPE_WRONG,
    /* 5 FLOWERROR_STATE_UNKNOWN */ MSG_PLC_TYPE_WRONG,
    /* 6 */ "UNKNOWN MESSAGE @ State 3",
    /* 7 UNKNOWN_ERROR_CODE */ "UNKNOWN ERROR CODE @ State 3",
    /* 8 NORESPONSE */ "NO RESPONSE @ State 3",
    "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3",
    "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3", "UNKNOWN MESSAGE @ State 3",
    "UNKNOWN MESSAGE @ State 3",
};

// AIO models whose bootloader must be recent enough for an AIO image; every other model passes.
struct GateRow {
    uint32_t row;
    uint8_t failsUpTo;       // versions 0 .. failsUpTo are refused
    uint8_t namedVersion;    // the one old version with a message of its own
    const char* namedMessage;
};

// Row            refused up to   named version   message for the named version
const GateRow kGate[] = {
    {ROW_RP200_AIO, 0x0F,          0x09,           "The bootloader version is V0.9, do not support AIO FW update"},
    {ROW_HB3_AIO,   0x0F,          0x09,           "The bootloader version is V0.9, do not support AIO FW update"},
    {ROW_TR3_AIO,   0x11,          0x10,           "The bootloader version is V1.0, do not support AIO FW update"},
};
// clang-format on

const char* const kUnknownBootloaderVersion =
    "The bootloader version is unknown, do not support AIO FW update";

}  // namespace

std::string LinkOpenFailureMessage(const char* linkName) {
    return std::string("CANNOT open ") + linkName + " Port!!!";
}

const SizeClass& SizeClassFor(uint32_t idx) {
    return kSizeClasses[SizeClassOf(idx)];
}

const char* ProbeFailureMessage(uint8_t result) {
    return kState1Messages[result & 0x0F];
}
const char* IdentityFailureMessage(uint8_t result) {
    return kState2Messages[result & 0x0F];
}
const char* EnterBootFailureMessage(uint8_t result) {
    return kState3Messages[result & 0x0F];
}

const char* BootloaderGateMessage(uint32_t idx, uint8_t version) {
    for (const GateRow& row : kGate) {
        if (idx != row.row) continue;
        if (version > row.failsUpTo) return nullptr;
        return version == row.namedVersion ? row.namedMessage : kUnknownBootloaderVersion;
    }
    return nullptr;
}
