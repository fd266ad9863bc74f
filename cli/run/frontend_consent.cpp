// The operator's consent before the run first changes the PLC: asked once on a terminal,
// given by --yes, refused otherwise; a refusal ends the run there with nothing changed.
#include <istream>
#include <ostream>
#include <string>

#include "cli/run/consent.h"
#include "cli/run/frontend.h"
#include "cli/run/redraw.h"
#include "update/update.h"

namespace plccli {

namespace {

const char PROGRAM_NAME[] = "plcfwupdate";

}  // namespace

bool CliFrontEnd::OnConsent() {
    std::string lines[] = {ConsentPlcLine(TakePlcSeen()), ConsentPortLine(config_.consentPort),
                           ConsentImageLine(config_.consentImage)};
    bool ask = config_.consent == Consent::ASK;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (consented_) return true;
        if (interrupted_) return false;
        EndStatusLineLocked();
        asking_ = ask;
        for (const auto& line : lines) err_ << PROGRAM_NAME << ": " << line << '\n';
        if (ask) err_ << CONSENT_QUESTION;
        err_.flush();
    }
    bool given = false;
    if (ask) {
        std::string answer;
        bool answered = static_cast<bool>(std::getline(in_, answer));
        given = answered && IsConsent(answer);
        std::lock_guard<std::mutex> lock(mutex_);
        // The input's end is no answer, and the terminal did not end the question's line.
        if (!answered) err_ << '\n';
        asking_ = false;
        consented_ = given;
    }
    if (given) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_) return false;
    declined_ = true;
    std::string line = NotUpdatedLine(config_.consent, TakeRunPoint());
    // With --events the standard output holds event lines only.
    (config_.events ? err_ : out_) << PROGRAM_NAME << ": " << line << '\n';
    err_.flush();
    out_.flush();
    PanelSnapshot now = TakeSnapshot();
    outcome_ = Outcome{"", line, now.errors, now.totalErrors};
    endPoint_ = TakeRunPoint();
    return false;
}

}  // namespace plccli
