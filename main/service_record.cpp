// The window's service record: the start of a run's line and the file it is appended to.
#include "main/service_record.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstring>
#include <ctime>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/state.h"
#include "main/preselect.h"
#include "resource/resource.h"

namespace {

struct ImagePrint {
    uint64_t bytes = 0;
    std::string sha256;
};

// The embedded image never changes while the program runs: its fingerprint is taken once.
const ImagePrint& EmbeddedImagePrint() {
    static const ImagePrint print = [] {
        ImagePrint p;
        HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(PLCFW_BIN), "BIN");
        if (resource == nullptr) return p;
        const auto* data =
            static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, resource)));
        if (data == nullptr) return p;
        p.bytes = SizeofResource(nullptr, resource);
        p.sha256 = plcrecord::Sha256Hex(data, p.bytes);
        return p;
    }();
    return print;
}

// The user's application-data folder, looked up before the first run: the line of a run that
// the program ends under is written without the delay of that lookup. "" when there is none.
std::string gAppData;

// records.jsonl under the user's application-data folder, the folders made as needed; "" when
// there is no such folder.
std::string RecordFilePath() {
    if (gAppData.empty()) return "";
    std::string folder = gAppData + "\\Korvel";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\PLC Firmware Update";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\records.jsonl";
}

}  // namespace

void PrepareServiceRecord() {
    try {
        char appData[MAX_PATH];
        if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                       SHGFP_TYPE_CURRENT, appData)))
            gAppData = appData;
        EmbeddedImagePrint();
    } catch (...) {
        // Out of memory: the window works without its record.
    }
}

plcrecord::RecordFields ServiceRecordStart() {
    plcrecord::RecordFields f;
    f.start = plcrecord::UtcIsoTime(std::time(nullptr));
    f.version = PLC_VERSION_TEXT;
    f.action = "update";
    const uint32_t row = selectedPLCIdx;
    f.model = row < PLC_COUNT ? plcList[row] : "";
    if (UsesUsbPort(f.model.c_str())) {
        f.port = "USB";
    } else {
        char port[PORT_NAME_BYTES];
        GetSelectedComPort(port);
        f.port.assign(port, strnlen(port, sizeof port));
    }
    f.imageFile = QUOTE(FW_FILE);
    const ImagePrint& image = EmbeddedImagePrint();
    f.imageBytes = image.bytes;
    f.imageSha256 = image.sha256;
    f.blocksTotal = TransferBlockCount(row, static_cast<uint32_t>(image.bytes));
    return f;
}

void WriteServiceRecord(const plcrecord::RecordFields& fields) {
    const std::string path = RecordFilePath();
    std::string error;
    if (!path.empty()) plcrecord::AppendRecordLine(path, plcrecord::RecordLine(fields), &error);
}
