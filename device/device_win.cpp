// The COM ports present on Windows: every present device of every setup class whose friendly
// name carries "(COMn)".
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "device/device.h"

namespace {

const char USB_ENTRY_TEXT[] = "USB";

// The port named by one device's friendly name, or false when it names none or cannot be read.
bool DevicePortName(HDEVINFO set, SP_DEVINFO_DATA* DeviceInfoData, char portName[PORT_NAME_BYTES]) {
    char buffer[FRIENDLY_NAME_BYTES];
    DWORD buffersize = FRIENDLY_NAME_BYTES;
    std::memset(buffer, 0, sizeof buffer);
    BOOL ret = SetupDiGetDeviceRegistryPropertyA(set, DeviceInfoData, SPDRP_FRIENDLYNAME, NULL,
                                                 reinterpret_cast<PBYTE>(buffer), buffersize, NULL);
    if (!ret) return false;
    return ParseFriendlyNameBuffer(buffer, sizeof buffer, portName);
}

void ClearPortList(HWND hComPortList) {
    if (totalComPort != 0) {
        for (int32_t i = 0; i < totalComPort; ++i)
            SendMessageA(hComPortList, CB_DELETESTRING, 0, 0);
        totalComPort = 0;
    }
}

}  // namespace

void EnumComPort(HWND hComPortList) {
    char portName[PORT_NAME_BYTES];
    std::memset(portName, 0, sizeof portName);
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA DeviceInfoData;
    std::memset(&DeviceInfoData, 0, sizeof DeviceInfoData);
    DeviceInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    ClearPortList(hComPortList);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &DeviceInfoData); ++i) {
        if (!DevicePortName(set, &DeviceInfoData, portName)) continue;
        SendMessageA(hComPortList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(portName));
        std::memset(portName, 0, sizeof portName);
        ++totalComPort;
    }
    SetupDiDestroyDeviceInfoList(set);
}

void EnumUSBPort(HWND hComPortList) {
    ClearPortList(hComPortList);
    SendMessageA(hComPortList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(USB_ENTRY_TEXT));
    SendMessageA(hComPortList, CB_SETCURSEL, 0, 0);
    ++totalComPort;
}

void ListComPorts(PortList* list) {
    list->count = 0;
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA DeviceInfoData;
    std::memset(&DeviceInfoData, 0, sizeof DeviceInfoData);
    DeviceInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    char portName[PORT_NAME_BYTES];
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &DeviceInfoData); ++i) {
        if (DevicePortName(set, &DeviceInfoData, portName)) AddPortSorted(list, portName);
    }
    SetupDiDestroyDeviceInfoList(set);
}

#endif  // _WIN32
