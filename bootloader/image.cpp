#include <cstring>

#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "resource/resource.h"

bool LoadImage() {
    HRSRC hRSRC = FindResourceA(nullptr, MAKEINTRESOURCEA(PLCFW_BIN), "BIN");
    if (hRSRC == nullptr) {
        hGLOBAL = nullptr;
        fin = nullptr;
        fileLength = 0;
        return false;
    }
    hGLOBAL = LoadResource(nullptr, hRSRC);
    fin = static_cast<unsigned char*>(LockResource(hGLOBAL));
    fileLength = SizeofResource(nullptr, hRSRC);
    return fin != nullptr;
}

void FileRead(unsigned char* rxbuf, int32_t counter) {
    if (counter <= 0) return;
    std::memcpy(rxbuf, fin, static_cast<size_t>(counter));
    fin += counter;
}

void CloseFile() {
    if (hGLOBAL != nullptr) FreeResource(hGLOBAL);
    hGLOBAL = nullptr;
}
