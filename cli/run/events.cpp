// --events: what a run does, as JSON lines on the standard output for another program to follow.
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/command/texts.h"
#include "cli/run/events.h"

namespace plccli {

std::string StartEvent(const std::string& port, const std::string& model,
                       const std::string& imageFile, uint64_t imageBytes) {
    return "{\"event\":\"start\",\"port\":" + JsonString(port) + ",\"model\":" +
           JsonString(model) + ",\"image\":" + JsonString(imageFile) +
           ",\"bytes\":" + std::to_string(imageBytes) + "}";
}

std::string PhaseEvent(int32_t status) {
    return "{\"event\":\"phase\",\"status\":" + JsonString(PhaseName(status)) + "}";
}

std::string ProgressEvent(const PanelSnapshot& s, int32_t blocks) {
    return "{\"event\":\"progress\",\"percent\":" + std::to_string(s.progress) +
           ",\"blocks\":" + std::to_string(blocks) + ",\"errors\":" + std::to_string(s.errors) +
           ",\"total_errors\":" + std::to_string(s.totalErrors) +
           ",\"step\":" + JsonString(StepName(s.step)) + "}";
}

std::string PromptEvent(const std::string& caption, const std::string& text, bool answered) {
    return "{\"event\":\"prompt\",\"caption\":" + JsonString(caption) +
           ",\"message\":" + JsonString(text) + ",\"answered\":" + (answered ? "true" : "false") +
           "}";
}

std::string OutcomeEvent(const RunOutcome& outcome, int exitStatus) {
    return "{\"event\":\"outcome\",\"caption\":" + JsonString(outcome.caption) +
           ",\"message\":" + JsonString(outcome.text) +
           ",\"errors\":" + std::to_string(outcome.errors) +
           ",\"exit_status\":" + std::to_string(exitStatus) + "}";
}

void EventWriter::Write(const std::string& line) {
    if (out_ == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // The outcome is the last line: an interrupt and the run's own end may both try to write it.
    if (ended_) return;
    *out_ << line << '\n';
    out_->flush();
}

std::string WithStationFields(const std::string& line, const RecordFields& fields) {
    std::string extra = StationFields(fields);
    if (extra.empty() || line.empty() || line.back() != '}') return line;
    return line.substr(0, line.size() - 1) + extra + "}";
}

void EventWriter::Outcome(const RunOutcome& outcome, int exitStatus,
                          const std::string& stationFields) {
    std::string line = OutcomeEvent(outcome, exitStatus);
    if (!stationFields.empty()) line = line.substr(0, line.size() - 1) + stationFields + "}";
    Write(line);
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
}

void EventWriter::WritePhasesUpTo(int32_t status) {
    if (status == phaseWritten_ || status < IDLE || status > PROGRAM) return;
    // A run goes through Idle, Erasing and Programming in that order and returns to Idle only
    // at its end: a phase between the last one written and this one (an erase begun and ended
    // between two ticks) was entered in between.
    int32_t first = status > phaseWritten_ ? phaseWritten_ + 1 : status;
    for (int32_t phase = first; phase <= status; ++phase) Write(PhaseEvent(phase));
    phaseWritten_ = status;
}

void EventWriter::Tick(const PanelSnapshot& now, int32_t blocks, bool force) {
    if (out_ == nullptr) return;
    auto at = std::chrono::steady_clock::now();
    WritePhasesUpTo(now.status);
    // At most four progress lines a second, and only when something moved.
    bool moved = !anyTick_ || now.progress != last_.progress || now.errors != last_.errors ||
                 now.totalErrors != last_.totalErrors || blocks != lastBlocks_ ||
                 now.step != last_.step;
    if (moved && (force || !anyTick_ || at - lastProgress_ >= std::chrono::milliseconds(250) ||
                  now.status != last_.status || now.step != last_.step)) {
        Write(ProgressEvent(now, blocks));
        lastProgress_ = at;
        last_ = now;
        lastBlocks_ = blocks;
    }
    last_.status = now.status;
    anyTick_ = true;
}

}  // namespace plccli

namespace plccli {

std::string EventField(const std::string& line, const std::string& key) {
    std::string quoted = "\"" + key + "\":";
    size_t at = line.find(quoted);
    if (at == std::string::npos) return "";
    at += quoted.size();
    if (at >= line.size()) return "";
    if (line[at] != '"') {
        size_t end = line.find_first_of(",}", at);
        return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    }
    std::string out;
    for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out += line[i];
            continue;
        }
        char c = line[++i];
        if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'r') out += '\r';
        else if (c == 'u' && i + 4 < line.size()) {
            out += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else out += c;
    }
    return out;
}

}  // namespace plccli
