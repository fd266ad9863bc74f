// The PLC's USB device through SetupAPI: the present interfaces of the USB device class, the
// first whose path carries the vendor and product id and that opens.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "usb/usb.h"

// GUID_DEVINTERFACE_USB_DEVICE, spelled out so that no extra import library is needed.
const GUID USB_DRIVER_GUID = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace {

// Bound on the interface index; the end of the set ends the search first.
const DWORD GUESS_COUNT = 0x7FFFFFFF;

HANDLE OpenShared(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, 0, NULL);
}

// A device's registry property as raw bytes ("" when it has none).
std::string DeviceProperty(HDEVINFO hDvcInfo, SP_DEVINFO_DATA* devInfo, DWORD property) {
    DWORD type = 0;
    DWORD need = 0;
    SetupDiGetDeviceRegistryPropertyA(hDvcInfo, devInfo, property, &type, NULL, 0, &need);
    if (need == 0 || need > 64 * 1024) return "";
    std::string bytes(need, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(hDvcInfo, devInfo, property, &type,
                                           reinterpret_cast<BYTE*>(&bytes[0]), need, &need))
        return "";
    bytes.resize(need);
    return bytes;
}

// One interface's path and its device's location properties.
bool ReadInterface(HDEVINFO hDvcInfo, PSP_DEVICE_INTERFACE_DATA DvcInfoData,
                   UsbInterfaceRecord* record) {
    DWORD iReqLen = 0;
    SetupDiGetDeviceInterfaceDetailA(hDvcInfo, DvcInfoData, NULL, 0, &iReqLen, NULL);
    if (iReqLen < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || iReqLen > 64 * 1024) return false;
    std::vector<char> buffer(iReqLen);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfo;
    std::memset(&devInfo, 0, sizeof devInfo);
    devInfo.cbSize = sizeof devInfo;
    if (!SetupDiGetDeviceInterfaceDetailA(hDvcInfo, DvcInfoData, detail, iReqLen, &iReqLen,
                                          &devInfo))
        return false;
    size_t room = buffer.size() - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    record->devicePath.assign(detail->DevicePath, strnlen(detail->DevicePath, room));
    record->locationPaths = DeviceProperty(hDvcInfo, &devInfo, SPDRP_LOCATION_PATHS);
    record->locationInformation = DeviceProperty(hDvcInfo, &devInfo, SPDRP_LOCATION_INFORMATION);
    return true;
}

// The present interfaces of the USB device class with what locates them.
std::vector<UsbInterfaceRecord> EnumerateUsbInterfaces() {
    std::vector<UsbInterfaceRecord> records;
    HDEVINFO hDevInfo =
        SetupDiGetClassDevsA(&USB_DRIVER_GUID, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hDevInfo == INVALID_HANDLE_VALUE) return records;
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    for (DWORD i = 0; i < GUESS_COUNT; ++i) {
        if (!SetupDiEnumDeviceInterfaces(hDevInfo, NULL, &USB_DRIVER_GUID, i, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            continue;
        }
        UsbInterfaceRecord record;
        if (ReadInterface(hDevInfo, &data, &record)) records.push_back(std::move(record));
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return records;
}

}  // namespace

std::vector<UsbPlc> ListUsbPlcs() {
    return UsbPlcsOf(EnumerateUsbInterfaces());
}

HANDLE OpenUsbPlcAt(const std::string& location) {
    if (!UsbLocationProblem(location).empty()) return INVALID_HANDLE_VALUE;
    for (const UsbPlc& plc : ListUsbPlcs()) {
        if (!SameUsbLocation(plc.location, location)) continue;
        // As the worker opens the device: its path, a backslash and the (empty) pipe name.
        HANDLE h = OpenShared((plc.device + "\\").c_str());
        if (h != INVALID_HANDLE_VALUE) return h;
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenOneDevice(HDEVINFO hDvcInfo, PSP_DEVICE_INTERFACE_DATA DvcInfoData, char* sDevNameBuf,
                     size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    DWORD iReqLen = 0;
    // The length query fails with "insufficient buffer" by design; only iReqLen counts.
    SetupDiGetDeviceInterfaceDetailA(hDvcInfo, DvcInfoData, NULL, 0, &iReqLen, NULL);
    DWORD iDevDataLen = iReqLen;
    if (iDevDataLen < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return hOut;
    auto* pDevData = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(std::malloc(iDevDataLen));
    if (pDevData == NULL) return hOut;
    pDevData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(hDvcInfo, DvcInfoData, pDevData, iDevDataLen, &iReqLen,
                                         NULL)) {
        size_t room = iDevDataLen - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        size_t length = strnlen(pDevData->DevicePath, room);
        std::memset(sDevNameBuf, 0, MAXPATH);
        // A path that would not fit with what the caller appends and the NUL is passed over.
        if (length < room && length + suffixBytes + 1 <= MAXPATH) {
            std::memcpy(sDevNameBuf, pDevData->DevicePath, length);
            if (UsbPathMatches(sDevNameBuf)) hOut = OpenShared(sDevNameBuf);
        }
    }
    std::free(pDevData);
    return hOut;
}

HANDLE OpenUsbDevice(const GUID* pGuid, char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    HDEVINFO hDevInfo =
        SetupDiGetClassDevsA(pGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hDevInfo == INVALID_HANDLE_VALUE) return hOut;
    SP_DEVICE_INTERFACE_DATA deviceInfoData;
    std::memset(&deviceInfoData, 0, sizeof deviceInfoData);
    deviceInfoData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    DWORD nGuessCount = GUESS_COUNT;
    for (DWORD iDevIndex = 0; iDevIndex < nGuessCount; ++iDevIndex) {
        if (SetupDiEnumDeviceInterfaces(hDevInfo, NULL, pGuid, iDevIndex, &deviceInfoData)) {
            hOut = OpenOneDevice(hDevInfo, &deviceInfoData, sDevNameBuf, suffixBytes);
            if (hOut != INVALID_HANDLE_VALUE) break;
        } else if (GetLastError() == ERROR_NO_MORE_ITEMS) {
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return hOut;
}

int GetUsbDeviceFileName(const GUID* pGuid, char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hDev = OpenUsbDevice(pGuid, sDevNameBuf, suffixBytes);
    if (hDev == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(hDev);
    return 1;
}

HANDLE OpenMyDevPipe(const char* PipeName) {
    char DeviceName[MAXPATH];
    std::memset(DeviceName, 0, sizeof DeviceName);
    if (PipeName == NULL) PipeName = "";
    size_t suffixBytes = 1 + std::strlen(PipeName);
    if (suffixBytes + 1 > MAXPATH) return INVALID_HANDLE_VALUE;
    if (GetUsbDeviceFileName(&USB_DRIVER_GUID, DeviceName, suffixBytes) == 0)
        return INVALID_HANDLE_VALUE;
    std::strcat(DeviceName, "\\");
    std::strcat(DeviceName, PipeName);
    return OpenShared(DeviceName);
}

#endif  // _WIN32
