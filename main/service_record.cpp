// The window's service record, written on the worker's thread once its run has returned, or on
// the window thread when the program ends under a run.
#include "main/service_record.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "catalogue/report.h"
#include "catalogue/state.h"
#include "main/preselect.h"
#include "record/record.h"
#include "resource/resource.h"

namespace {

struct ServiceRecord {
    plcrecord::RecordFields fields;
    std::chrono::steady_clock::time_point started;
};

// Held by a worker from its run's start until it has copied the run's report: the next run's
// StartBurn clears that report.
std::mutex gRunOrder;

// The run in progress: open from just before its StartBurn until its line is claimed, by the
// worker or by the window thread, whichever comes first.
std::mutex gRunMutex;
bool gRunOpen = false;
bool gRunRecorded = false;
ServiceRecord gRun;

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

// What is known before the run: the start, the selected port and model, the image.
ServiceRecord BeginServiceRecord() {
    ServiceRecord record;
    record.started = std::chrono::steady_clock::now();
    plcrecord::RecordFields& f = record.fields;
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
    return record;
}

// A record that cannot be written is left out without a word: the run is what matters.
void WriteServiceRecord(const ServiceRecord& record) {
    const std::string path = RecordFilePath();
    std::string error;
    if (!path.empty())
        plcrecord::AppendRecordLine(path, plcrecord::RecordLine(record.fields), &error);
}

// Claims the line of the run in progress and fills it from the run's report: as it ended when
// its final message is out, else as abandoned (cut). False when it is not this caller's to
// write. Under gRunMutex.
bool ClaimRunLocked(ServiceRecord* out, const RunCut* cut) {
    if (!gRunOpen || gRunRecorded) return false;
    gRunRecorded = true;
    *out = gRun;
    plcrecord::RecordFields& f = out->fields;
    if (cut == nullptr || plcReport.outcome != OUTCOME_RUNNING) {
        plcrecord::FinishFromReport(&f, out->started);
        return true;
    }
    f.plc = plcrecord::TakePlcSeen();
    f.caption = "";
    f.message = AbandonedMessage(*cut, flashStatus, progress);
    f.outcome = RUN_ABANDONED;
    f.errors = errCounter;
    f.totalErrors = totalErrCounter;
    f.exitStatus = 1;
    f.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - out->started).count();
    return true;
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

void RunRecorded(void (*run)(void*), void* param) {
    std::unique_lock<std::mutex> order(gRunOrder);
    try {
        const ServiceRecord begun = BeginServiceRecord();
        std::lock_guard<std::mutex> lock(gRunMutex);
        // The previous run's report is not this run's, also before StartBurn clears it.
        ClearPlcReport();
        gRun = begun;
        gRunOpen = true;
        gRunRecorded = false;
    } catch (...) {
        // Out of memory: the run goes on without its line.
    }
    run(param);
    ServiceRecord record;
    bool mine = false;
    {
        std::lock_guard<std::mutex> lock(gRunMutex);
        try {
            mine = ClaimRunLocked(&record, nullptr);
        } catch (...) {
        }
        gRunOpen = false;
    }
    order.unlock();
    try {
        if (mine) WriteServiceRecord(record);
    } catch (...) {
    }
}

bool FinalMessageUp() {
    std::lock_guard<std::mutex> lock(gRunMutex);
    return gRunOpen && plcReport.outcome != OUTCOME_RUNNING;
}

void RecordRunAtExit(RunCut cut) {
    try {
        ServiceRecord record;
        bool mine = false;
        {
            std::lock_guard<std::mutex> lock(gRunMutex);
            mine = ClaimRunLocked(&record, &cut);
        }
        if (mine) WriteServiceRecord(record);
    } catch (...) {
    }
}
