#include "catalogue/report.h"

PlcReport plcReport;

void ClearPlcReport() {
    plcReport.outcome = OUTCOME_RUNNING;
    plcReport.probeResult = NOT_REPORTED;
    plcReport.appId = NOT_REPORTED;
    plcReport.bootId = NOT_REPORTED;
    plcReport.D1386 = NOT_REPORTED;
    plcReport.D1001 = NOT_REPORTED;
    plcReport.D1148 = NOT_REPORTED;
    plcReport.bootloaderVersion = NOT_REPORTED;
    plcReport.enteredBootloader = 0;
    plcReport.blocksSent = 0;
    plcReport.checksPassed = CHECKS_NONE;
}
