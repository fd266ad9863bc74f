// What a check-only run left unread: the values a report of the PLC shows, read with the same
// read-only requests a run makes in the mode the PLC answered in.
#include "applink/applink.h"
#include "bootloader/bootloader.h"
#include "update/update.h"

void ReadValuesNotSeen() {
    bool app = plcReport.probeResult == ENQ;
    bool boot = plcReport.probeResult == ACK;
    if (!app && !(boot && plcReport.bootloaderVersion == NOT_REPORTED)) return;
    HANDLE link = OpenRunLink();
    if (link == INVALID_HANDLE_VALUE) return;
    hSerial = link;
    if (app) {
        DummyComm(link);
        if (plcReport.D1386 == NOT_REPORTED) plcReport.D1386 = READ_D1386(link);
        if (plcReport.D1001 == NOT_REPORTED) plcReport.D1001 = READ_D1001(link);
        if (plcReport.D1148 == NOT_REPORTED) plcReport.D1148 = READ_D1148(link);
        // A version of 0 is what a PLC gives that does not answer the request.
        uint8_t version = plcReport.bootloaderVersion == NOT_REPORTED ? read_fu_version_A() : 0;
        if (version != 0) plcReport.bootloaderVersion = version;
    } else {
        if (SelectedPLCIn(COM_PORT_MODELS)) SetupComLine(link);
        if (read_fu_version_B() == OK) plcReport.bootloaderVersion = RP_fu_version;
    }
    CloseHandle(link);
    hSerial = INVALID_HANDLE_VALUE;
}
