#include "catalogue/state.h"

#include <cstring>
#include <mutex>

Shared<uint32_t> selectedPLCIdx{0};
Shared<uint16_t> selectedPLCID{0};
char selectedPLC[15] = {};
Shared<int32_t> ComSelidx{0};
HWND hComPortList = nullptr;
int32_t totalComPort = 0;
ParamStruct paramStruct = {nullptr, nullptr};
Shared<int32_t> isFileChosed{0};

HANDLE hSerial = INVALID_HANDLE_VALUE;
HGLOBAL hGLOBAL = nullptr;
unsigned char* fin = nullptr;
Shared<uint32_t> fileLength{0};
Shared<int32_t> flashStatus{IDLE};
Shared<int32_t> progress{0};
Shared<int32_t> errCounter{0};
Shared<int32_t> totalErrCounter{0};
Shared<int32_t> elapsedTime{0};
Shared<uint8_t> RP_fu_version{0};

namespace {
std::mutex gPortMutex;
char gSelectedComPort[PORT_NAME_BYTES] = {};
}  // namespace

void SetSelectedComPort(const char* name) {
    std::lock_guard<std::mutex> lock(gPortMutex);
    std::memset(gSelectedComPort, 0, sizeof gSelectedComPort);
    if (name != nullptr) std::strncpy(gSelectedComPort, name, PORT_NAME_BYTES - 1);
}

void GetSelectedComPort(char out[PORT_NAME_BYTES]) {
    std::lock_guard<std::mutex> lock(gPortMutex);
    std::memcpy(out, gSelectedComPort, PORT_NAME_BYTES);
}

void ResetRunState(const ParamStruct* param) {
    elapsedTime = 0;
    flashStatus = IDLE;
    progress = 0;
    errCounter = 0;
    totalErrCounter = 0;
    CloseHandle(hSerial);
    hSerial = INVALID_HANDLE_VALUE;
    // Last: a run started with the button opens its own link, which must not be the one closed
    // here.
    EnableWindow(param->lParam, TRUE);
}

const char* StatusWord(int32_t status) {
    // flashStatus   word, as the panel and the command line show it
    static const char* const kWords[] = {
        "Idle",         // IDLE
        "Erasing",      // ERASE
        "Programming",  // PROGRAM
    };
    if (status < 0 || status >= static_cast<int32_t>(sizeof kWords / sizeof kWords[0]))
        return nullptr;
    return kWords[status];
}
