// --info: who the PLC is and what a run of the selected image would decide about it, without
// changing the PLC. The run's own checks decide (a check-only run of the engine); the values
// they did not need are read afterwards with the same read-only requests.
#include <cstdio>
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/run/frontend.h"
#include "cli/run/info.h"
#include "update/update.h"

namespace plccli {

namespace {

const char* const LABELS[] = {"image", "mode",       "model id",       "D1386",          "D1001",
                              "D1148", "bootloader", "identity check", "rules and gate", "verdict"};
enum Label { IMAGE, MODE, MODEL_ID, D1386_, D1001_, D1148_, BOOTLOADER, IDENTITY, RULES, VERDICT };

void Line(std::ostream& out, Label label, const std::string& text) {
    std::string head = std::string(LABELS[label]) + ":";
    head.resize(16, ' ');
    out << head << text << '\n';
}

bool Answered(int32_t probeResult) {
    return probeResult != NOT_REPORTED && (probeResult & 0x0F) != NORESPONSE;
}

std::string Register(int32_t value, bool (*meaning)(uint16_t), const char* yes, const char* no) {
    if (value == NOT_REPORTED) return "not read";
    return std::to_string(value) + " = " + IdText(value) + " (" +
           (meaning(static_cast<uint16_t>(value)) ? yes : no) + ")";
}

void PrintPlc(std::ostream& out, const PlcSeen& seen, const RunOutcome& outcome) {
    if (!Answered(seen.probeResult)) {
        Line(out, MODE, "no answer (" + outcome.text + ")");
        return;
    }
    Line(out, MODE, ModeText(seen.probeResult));
    int32_t id = seen.probeResult == ACK ? seen.bootId : seen.appId;
    Line(out, MODEL_ID, id == NOT_REPORTED ? "not reported" : IdText(id) + ": " + ModelsWithId(id));
    if (seen.probeResult != ACK) {
        Line(out, D1386_, Register(seen.D1386, IsQm2cFamily, "QM2-C family", "QM2-TR2 family"));
        Line(out, D1001_,
             Register(seen.D1001, IsGenerationV4, "generation V4", "generation V2/V3"));
        Line(out, D1148_,
             Register(seen.D1148, IsLargeVariant, "the larger variant, 28DK2 or 26NV",
                      "the 12 variant, 12DK2 or 12NV"));
    }
    Line(out, BOOTLOADER,
         seen.bootloaderVersion == NOT_REPORTED ? "not reported"
                                                : BootloaderVersionText(seen.bootloaderVersion));
}

bool GoesAhead(const PlcSeen& seen, const RunOutcome& outcome) {
    return seen.checksPassed >= CHECKS_ALL && outcome.caption.empty();
}

// The id the PLC reported when it is no id of the selected model, else NOT_REPORTED.
int32_t ForeignId(const PlcSeen& seen) {
    int32_t id = seen.probeResult == ACK ? seen.bootId : seen.appId;
    if (id == NOT_REPORTED) return NOT_REPORTED;
    const uint32_t sel = selectedPLCIdx;
    const uint16_t alias = SelectedModel().aliasId;
    // A COM-port model's bootloader does not report bit 15 of its id.
    bool own = plcID[sel] == id || (ModelIn(sel, COM_PORT_MODELS) && (plcID[sel] & 0x7FFF) == id) ||
               (alias != NO_ALIAS_ID && alias == id);
    return own ? NOT_REPORTED : id;
}

// An identity check that failed because the PLC is another model says which, and what image
// it takes, rather than the message the retries of the identity request end with.
std::string OtherModelText(int32_t id) {
    std::string models = ModelsWithId(id);
    std::string needs = models;
    size_t last = needs.rfind(", ");
    if (last != std::string::npos) needs.replace(last, 2, " or ");
    return "fails: the PLC reports the id " + IdText(id) + ", that of " + models +
           ", not that of " + plcList[selectedPLCIdx] + " (" + IdText(plcID[selectedPLCIdx]) +
           "); it needs an image for " + needs;
}

// Each check: passed, failed with the message that stops the run, or not reached.
// The identity check runs once the probe has found the application firmware or the bootloader.
void PrintChecks(std::ostream& out, const PlcSeen& seen, const RunOutcome& outcome) {
    std::string stop = "fails: " + MessageLine(outcome.caption.c_str(), outcome.text.c_str());
    bool stopped = !outcome.caption.empty();
    bool probed = seen.probeResult == ENQ || seen.probeResult == ACK;
    int32_t checksPassed = seen.checksPassed;
    auto verdict = [&](int32_t level) {
        if (checksPassed >= level) return std::string("passed");
        if (stopped && probed && checksPassed == level - 1) return stop;
        return std::string("not reached");
    };
    int32_t foreign = ForeignId(seen);
    bool otherModel = stopped && probed && checksPassed < CHECKS_IDENTITY && foreign != NOT_REPORTED;
    Line(out, IDENTITY, otherModel ? OtherModelText(foreign) : verdict(CHECKS_IDENTITY));
    Line(out, RULES, verdict(CHECKS_ALL));
    Line(out, VERDICT,
         GoesAhead(seen, outcome) ? "the update would go on to erase and write the image"
                                  : "the update would stop with " +
                                        MessageLine(outcome.caption.c_str(), outcome.text.c_str()));
}

}  // namespace

std::string ModelsWithId(int32_t id) {
    std::string models;
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        // A COM-port model's bootloader does not report bit 15 of its id.
        bool same = plcID[i] == id || (ModelIn(i, COM_PORT_MODELS) && (plcID[i] & 0x7FFF) == id);
        if (same) models += (models.empty() ? "" : ", ") + std::string(plcList[i]);
    }
    return models.empty() ? "no model of the catalogue" : models;
}

int RunInfo(std::ostream& out, CliFrontEnd& frontEnd, void (*startBurn)(void*),
            uint64_t imageBytes) {
    SetCheckOnly(true);
    frontEnd.Run(startBurn);
    SetCheckOnly(false);
    RunOutcome outcome = frontEnd.LastOutcome();
    PlcSeen seen = TakePlcSeen();
    // The size is checked before the link: the PLC was not asked.
    std::string sizeLine = ImageSizeLine(selectedPLCIdx, imageBytes);
    if (imageBytes > 0 && !sizeLine.empty()) {
        Line(out, IMAGE, sizeLine);
        Line(out, VERDICT,
             "the update would stop with " +
                 MessageLine(outcome.caption.c_str(), outcome.text.c_str()));
        return EXIT_WOULD_STOP;
    }
    Line(out, IMAGE,
         std::to_string(imageBytes) + " bytes; " + plcList[selectedPLCIdx] + " takes at most " +
             std::to_string(MaxImageBytes(selectedPLCIdx)) + " bytes");
    ReadValuesNotSeen();
    seen = TakePlcSeen();
    PrintPlc(out, seen, outcome);
    PrintChecks(out, seen, outcome);
    if (!Answered(seen.probeResult)) return EXIT_FAILED;
    return GoesAhead(seen, outcome) ? EXIT_SUCCESSFUL : EXIT_WOULD_STOP;
}

}  // namespace plccli
