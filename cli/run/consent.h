// The operator's consent before the first request that changes the PLC: what the question
// names, the answer that gives it, and the line of a run that stops without it.
#pragma once

#include <cstdint>
#include <string>

#include "cli/command/texts.h"
#include "cli/record_names.h"

namespace plccli {

// How a run gets past the point before the PLC's first change: --yes goes on, an operator at a
// terminal is asked, and without either the run stops there.
enum class Consent { GIVEN, ASK, REFUSED };

// The question, after the lines of ConsentSubject.
inline constexpr char CONSENT_QUESTION[] = "Update this PLC? [y/N] ";

// What the operator is asked about, a line each without its line end: the PLC as it answered
// (the models of its id, the id, its mode), the port, and the image (file name, size and the
// first 12 hex digits of its SHA-256).
struct ConsentImage {
    std::string file;  // any directory part is left out
    uint64_t bytes = 0;
    std::string sha256;
};
std::string ConsentPlcLine(const PlcSeen& plc);
std::string ConsentPortLine(const std::string& port);
std::string ConsentImageLine(const ConsentImage& image);
// y or yes, in any case, with blanks around it.
bool IsConsent(const std::string& answer);
// The run's last line when it stops at that point: why, and where the PLC stands.
std::string NotUpdatedLine(Consent consent, const RunPoint& point);

}  // namespace plccli
