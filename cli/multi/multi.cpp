// Several ports at once: the rows, the live lines and the table that both platforms show.
#include "cli/multi/multi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "cli/command/exit_status.h"
#include "cli/command/options.h"
#include "cli/program/io.h"
#include "cli/run/console.h"
#include "cli/run/redraw.h"
#include "cli/command/texts.h"
#include "cli/run/events.h"
#include "update/update.h"

namespace plccli {

namespace {

const std::string ELLIPSIS = "...";
const size_t LIVE_PORT_CHARS = 24;
// The widest the fitted table's port and model columns grow; the message takes what is left.
const size_t TABLE_PORT_CHARS = 20;
const size_t TABLE_MODEL_CHARS = 14;

std::string Seconds(PortRow::Clock::duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(d).count());
    return text;
}

bool Succeeded(const PortRow& w) {
    return w.exitStatus == EXIT_SUCCESSFUL || w.exitStatus == EXIT_NOT_RECORDED;
}

std::string OutcomeWord(const PortRow& w) {
    if (Succeeded(w)) return "succeeded";
    // Only a run that said where it stood was interrupted; one that just ended failed.
    if (w.exitStatus > EXIT_SIGNAL_BASE && w.outcomeSeen) return "interrupted";
    return "FAILED";
}

bool Flashing(const PortRow& w) {
    return w.phase == PhaseName(ERASE) || w.phase == PhaseName(PROGRAM);
}

// What a running port does: the phase while it erases or writes, before that the step it is in
// (connecting, waiting for the replug...), which the phase word "Idle" does not tell.
std::string RunningState(const PortRow& w) {
    return Flashing(w) || w.step.empty() ? w.phase : w.step;
}

// At most n characters: a port name loses its start, whose end tells it apart ("...b/plc0").
std::string CutStart(const std::string& text, size_t n) {
    if (text.size() <= n) return text;
    if (n <= ELLIPSIS.size()) return text.substr(text.size() - n);
    return ELLIPSIS + text.substr(text.size() - (n - ELLIPSIS.size()));
}

std::string CutEnd(const std::string& text, size_t n) {
    if (text.size() <= n) return text;
    if (n <= ELLIPSIS.size()) return text.substr(0, n);
    return text.substr(0, n - ELLIPSIS.size()) + ELLIPSIS;
}

// A line that a terminal of width columns does not wrap: the last column stays free.
std::string FitWidth(std::string line, size_t width) {
    if (width > 0 && line.size() >= width) line.resize(width - 1);
    return line;
}

std::string LiveLine(const PortRow& w, size_t width) {
    char text[256];
    std::string state = w.exitStatus >= 0 ? OutcomeWord(w) : RunningState(w);
    std::string port = width > 0 ? CutStart(w.port, LIVE_PORT_CHARS) : w.port;
    std::snprintf(text, sizeof text, "%-24s %-10s %-23s %3d%%  errors %d", port.c_str(),
                  w.model.c_str(), state.c_str(), w.percent, w.errors);
    return FitWidth(text, width);
}

// A station's events in a port's process: its state as the row's step, each unit's result line
// (on a plain output, after the port), and the tally as the row's message.
void TakeStationEvent(PortRow* w, const std::string& line, const std::string& event,
                      std::ostream* plain) {
    std::string unit = "unit " + EventField(line, "unit") + ": ";
    std::string counts =
        EventField(line, "done") + " done, " + EventField(line, "failed") + " failed";
    if (event == "station") {
        w->step = unit + EventField(line, "state");
        w->phase = "";
    } else if (event == "unit" && plain != nullptr) {
        *plain << w->port << ": " << unit << EventField(line, "result") << " in "
               << EventField(line, "seconds") << " s; " << counts << '\n';
    } else if (event == "tally") {
        w->outcomeSeen = true;
        w->caption.clear();
        w->message = "station: " + counts;
    }
}

// One event line of a port's process: its row, and on a plain output the line it prints.
void TakeEvent(PortRow* w, const std::string& line, const SeveralOutput& o) {
    std::string event = EventField(line, "event");
    bool plain = o.Plain();
    std::string tag = w->port + ": ";
    if (o.events && !event.empty()) o.out << WithPort(line, w->port) << '\n';
    if (event == "start") {
        w->model = EventField(line, "model");
    } else if (event == "phase") {
        w->phase = EventField(line, "status");
        // "Idle" says less than the steps that follow it.
        if (plain && !w->phase.empty() && w->phase != PhaseName(IDLE))
            o.err << tag << w->phase << '\n';
    } else if (event == "progress") {
        w->percent = std::atoi(EventField(line, "percent").c_str());
        w->blocks = std::atoi(EventField(line, "blocks").c_str());
        w->errors = std::atoi(EventField(line, "errors").c_str());
        std::string step = EventField(line, "step");
        if (plain && !step.empty() && step != w->step && !Flashing(*w))
            o.err << tag << step << '\n';
        w->step = step;
        if (plain && w->percent / 10 != w->lastTens)
            o.err << tag << w->percent << "% (" << w->blocks << " blocks, errors " << w->errors
                  << ")\n";
        w->lastTens = w->percent / 10;
    } else if (event == "prompt") {
        if (plain)
            o.err << tag << "[" << EventField(line, "caption") << "] "
                  << EventField(line, "message") << " (answered)\n";
    } else if (event == "station" || event == "unit" || event == "tally") {
        TakeStationEvent(w, line, event, plain ? &o.out : nullptr);
    } else if (event == "outcome") {
        w->outcomeSeen = true;
        w->caption = EventField(line, "caption");
        w->message = EventField(line, "message");
        w->errors = std::atoi(EventField(line, "errors").c_str());
        if (plain)
            o.out << tag
                  << (w->caption.empty() ? w->message
                                         : MessageLine(w->caption.c_str(), w->message.c_str()))
                  << '\n';
    }
}

// The table's cells: the header, then a row a port. The caption is left out of the message:
// the outcome says as much.
std::vector<std::vector<std::string>> TableCells(const std::vector<PortRow>& rows) {
    std::vector<std::vector<std::string>> cells = {
        {"PORT", "MODEL", "OUTCOME", "DURATION", "ERRORS", "MESSAGE"}};
    for (const auto& w : rows)
        cells.push_back({w.port, w.model, OutcomeWord(w), Seconds(w.ended - w.started),
                         std::to_string(w.errors), w.message});
    return cells;
}

// A message in lines of at most room characters, broken between words (a word longer than
// room is broken inside).
std::vector<std::string> MessageLines(const std::string& message, size_t room) {
    std::vector<std::string> lines(1);
    for (size_t at = 0; at < message.size();) {
        size_t end = std::min(message.find(' ', at), message.size());
        std::string word = message.substr(at, end - at);
        at = end + 1;
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > room)
            lines.emplace_back();
        if (!lines.back().empty()) lines.back() += ' ';
        while (lines.back().size() + word.size() > room) {
            size_t take = room - std::min(room, lines.back().size());
            lines.back() += word.substr(0, take);
            word.erase(0, take);
            lines.emplace_back();
        }
        lines.back() += word;
    }
    return lines;
}

// The narrowest message column worth keeping beside the row; narrower, the message goes under
// it.
const size_t TABLE_MESSAGE_MIN_CHARS = 24;
const size_t TABLE_UNDER_INDENT = 4;

// The table on a terminal of width columns: each column as wide as its widest cell (the port's
// and the model's within a limit). The message is never cut, as -q leaves the operator only
// this table and its instruction (RE-POWER, REPLUG) comes last: what does not fit beside the row
// goes on lines under it, at the message's column (or, where that is too narrow, at a small
// indent).
void PrintFittedTable(const std::vector<PortRow>& rows, std::ostream& out, size_t width) {
    enum { PORT, MODEL, OUTCOME, DURATION, ERRORS, MESSAGE, COLUMNS };
    std::vector<std::vector<std::string>> cells = TableCells(rows);
    size_t widths[COLUMNS] = {};
    for (const auto& row : cells)
        for (size_t c = 0; c < MESSAGE; ++c) widths[c] = std::max(widths[c], row[c].size());
    widths[PORT] = std::min(widths[PORT], TABLE_PORT_CHARS);
    widths[MODEL] = std::min(widths[MODEL], TABLE_MODEL_CHARS);
    size_t used = 1;  // the gaps: a space after each column, one more before the message
    for (size_t c = 0; c < MESSAGE; ++c) used += widths[c] + 1;
    // The last column stays free: a terminal would wrap a line that reaches it.
    size_t room = width > used + 1 ? width - used - 1 : 0;
    bool beside = room >= TABLE_MESSAGE_MIN_CHARS;
    size_t indent = beside ? used : TABLE_UNDER_INDENT;
    if (!beside) room = width > indent + 1 ? width - indent - 1 : 1;
    for (const auto& row : cells) {
        char text[512];
        std::snprintf(text, sizeof text, "%-*s %-*s %-*s %*s %*s",
                      static_cast<int>(widths[PORT]), CutStart(row[PORT], widths[PORT]).c_str(),
                      static_cast<int>(widths[MODEL]), CutEnd(row[MODEL], widths[MODEL]).c_str(),
                      static_cast<int>(widths[OUTCOME]), row[OUTCOME].c_str(),
                      static_cast<int>(widths[DURATION]), row[DURATION].c_str(),
                      static_cast<int>(widths[ERRORS]), row[ERRORS].c_str());
        std::vector<std::string> message = MessageLines(row[MESSAGE], room);
        std::string line = FitWidth(text, width);
        if (beside) line += "  " + message.front();
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
        for (size_t i = beside ? 1 : 0; i < message.size(); ++i)
            if (!message[i].empty()) out << std::string(indent, ' ') << message[i] << '\n';
    }
    out.flush();
}

}  // namespace

SeveralOutput SeveralOutputOf(Io& io, const CliOptions& options) {
    SeveralOutput o{io.out, io.err, io.terminal, options.events, options.quiet};
    o.controls = TerminalTakesControls();
    // A table on a terminal fits it; into a file or a pipe it goes whole, for scripts.
    if (OutputIsTerminal()) o.width = TerminalWidth();
    return o;
}

std::string WithPort(const std::string& eventLine, const std::string& port) {
    if (eventLine.find("\"port\":") != std::string::npos) return eventLine;
    size_t comma = eventLine.find(',');
    size_t at = comma != std::string::npos ? comma : eventLine.rfind('}');
    if (eventLine.empty() || eventLine[0] != '{' || at == std::string::npos) return eventLine;
    return eventLine.substr(0, at) + ",\"port\":" + JsonString(port) + eventLine.substr(at);
}

void TakeOutput(PortRow* row, const char* data, size_t len, const SeveralOutput& o) {
    row->pending.append(data, len);
    size_t end;
    while ((end = row->pending.find('\n')) != std::string::npos) {
        std::string line = row->pending.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        TakeEvent(row, line, o);
        row->pending.erase(0, end + 1);
    }
}

void TakeExit(PortRow* w, int exitStatus, int signal, const SeveralOutput& o) {
    w->ended = PortRow::Clock::now();
    w->exitStatus = signal != 0 ? 128 + signal : exitStatus;
    if (w->outcomeSeen) return;
    w->caption = CAPTION_ERROR;
    w->message = exitStatus == 127 && signal == 0 ? "the worker process could not start"
                 : signal != 0 ? "the worker process was ended by signal " + std::to_string(signal)
                               : "the worker process ended without an outcome";
    if (Succeeded(*w)) w->exitStatus = EXIT_FAILED;
    if (o.events)
        o.out << WithPort(
                     OutcomeEvent(RunOutcome{w->caption, w->message, w->errors, 0}, w->exitStatus),
                     w->port)
              << '\n';
}

void StartFailed(PortRow* w, const std::string& error, const SeveralOutput& o) {
    w->started = w->ended = PortRow::Clock::now();
    w->exitStatus = EXIT_FAILED;
    w->caption = CAPTION_ERROR;
    w->message = error;
    if (o.events)
        o.out << WithPort(OutcomeEvent(RunOutcome{w->caption, error, 0, 0}, EXIT_FAILED), w->port)
              << '\n';
}

void DrawLive(const std::vector<PortRow>& rows, bool* drawn, std::ostream& err, size_t width) {
    if (*drawn) err << "\033[" << rows.size() << "A";
    for (const auto& w : rows) err << '\r' << LiveLine(w, width) << "\033[K\n";
    err.flush();
    *drawn = true;
}

void PrintSummary(const std::vector<PortRow>& rows, const SeveralOutput& o) {
    if (o.events) {
        o.out.flush();
        return;
    }
    if (o.width > 0) {
        PrintFittedTable(rows, o.out, o.width);
        return;
    }
    char text[512];
    std::snprintf(text, sizeof text, "%-24s %-10s %-11s %9s %6s  %s\n", "PORT", "MODEL", "OUTCOME",
                  "DURATION", "ERRORS", "MESSAGE");
    o.out << text;
    for (const auto& w : rows) {
        std::string message = w.caption.empty() ? w.message : "[" + w.caption + "] " + w.message;
        std::snprintf(text, sizeof text, "%-24s %-10s %-11s %9s %6d  %s\n", w.port.c_str(),
                      w.model.c_str(), OutcomeWord(w).c_str(), Seconds(w.ended - w.started).c_str(),
                      w.errors, message.c_str());
        o.out << text;
    }
    o.out.flush();
}

int SeveralExitStatus(const std::vector<PortRow>& rows, int interruptStatus, std::ostream& err) {
    if (interruptStatus != 0) return interruptStatus;
    bool unrecorded = false;
    for (const auto& w : rows) {
        if (!Succeeded(w)) return EXIT_FAILED;
        if (w.exitStatus == EXIT_NOT_RECORDED) {
            err << "plcfwupdate: " << w.port
                << ": the update succeeded, but its record line could not be written\n";
            unrecorded = true;
        }
    }
    return unrecorded ? EXIT_NOT_RECORDED : EXIT_SUCCESSFUL;
}

}  // namespace plccli
