// A station: one port on which each PLC is updated as it is plugged in.
//   - Station: waits until a PLC answers, has it updated as a normal run, waits until it has
//     gone, and again; one live line, a result line a unit, the tally
//   - UnitResultLine, TallyLine, UnitEvent, TallyEvent: what it prints
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "cli/run/console.h"
#include "update/update.h"

namespace plccli {

// A station looks at the link every STATION_TICK_MS: one wake-up frame and one mode probe, then
// LOOK_READ_MS for what comes back, then a pause for the rest of the tick. It keeps the link
// open and throws nothing away, so every byte the PLC sends is heard by one look or another.
constexpr uint32_t STATION_TICK_MS = 100;
// A unit has gone once nothing at all has come from it (not a byte; for a USB-attached unit, its
// device absent) for STATION_GONE_SILENCE_MS, over STATION_GONE_LOOKS looks in a row or more. Lost
// replies cannot fake that: with five lost in a row and the next one 200 ms late, the longest
// stretch without a byte that the looks can see is 6 x 100 + 200 - 90 = 710 ms; and an unplug of 1
// s (960 ms) always shows. The looks count as well as the time, so that a host that stalled between
// two looks, and so asked nothing, is not taken for silence.
constexpr uint32_t STATION_GONE_SILENCE_MS = 850;
constexpr uint32_t STATION_GONE_LOOKS = 6;
// A USB-attached unit that restarts only when replugged has gone once its device has been absent
// from its port for STATION_ABSENT_GONE_LOOKS looks in a row: such a device leaves its port only
// when it is unplugged, so its absence is proof, and a unit swapped in a fifth of a second after
// the one before left is seen. One look is not enough, as one look may fall between a write that
// failed and the open that tells. A model that re-enumerates by itself after its update keeps
// the longer wait above.
constexpr uint32_t STATION_ABSENT_GONE_LOOKS = 2;
// A unit still heard this long after it was told to go is told again, plainly: a unit swapped in
// now would be taken for it and not written.
constexpr uint32_t STATION_STILL_ANSWERS_MS = 3000;
// A USB-attached unit's device absent this long: the waiting line says what it looks for.
constexpr uint32_t STATION_ABSENT_SAY_MS = 3000;

struct StationHooks {
    std::function<LinkPresence()> look;  // one look (LookForPlc)
    // Lets the link the looks hold go, before a unit's update opens it and at the end.
    std::function<void()> release = EndLook;
    std::function<int(uint32_t unit)> update;  // a whole run on the unit; its exit status
    std::function<void(uint32_t ms)> pause;
    std::function<uint64_t()> nowMs;
};

struct StationConfig {
    std::string port;     // as the lines name it
    std::string started;  // the station's start, UTC, ISO 8601
    uint32_t units = 0;   // end after this many units; 0: until interrupted
    bool usbAttached = false;
    // The unit is USB-attached and restarts only when replugged: STATION_ABSENT_GONE_LOOKS.
    bool goneOnceAbsent = false;
    // The live line redrawn in place on err, as wide as the terminal, its result in colour
    // (unless NO_COLOR is set or TERM is dumb: then no escape sequence at all), and bells with
    // each result.
    bool terminal = false;
    std::function<size_t()> width = TerminalWidth;
    bool events = false;  // out carries JSON lines: the texts go to err
};

struct StationTally {
    uint32_t done = 0, failed = 0;
    std::vector<uint32_t> failedUnits;
    uint64_t unitMs = 0;       // the updates of the units done and failed, in all
    uint32_t updating = 0;     // the unit being updated; 0: none
    bool notRecorded = false;  // a unit's record line or trace was not written whole
};

// Whether a station of the model in catalogue row idx takes its unit's absence from the port
// as gone (StationConfig::goneOnceAbsent): its link is USB and it restarts only when replugged.
bool GoneOnceAbsent(uint32_t idx);

// "unit 7: SUCCESSFUL in 41 s; 7 done, 1 failed"
std::string UnitResultLine(uint32_t unit, bool succeeded, uint64_t ms, const StationTally& t);
// "station: 7 done, 1 failed (unit 3); 41.2 s a unit on average"
std::string TallyLine(const StationTally& t);
std::string StationEvent(uint32_t unit, const char* state);
std::string UnitEvent(uint32_t unit, bool succeeded, uint64_t ms, const StationTally& t,
                      const std::string& started);
std::string TallyEvent(const StationTally& t, const std::string& started, int exitStatus);

class Station {
  public:
    Station(StationConfig config, StationHooks hooks, std::ostream& out, std::ostream& err);
    // Until config.units units have been updated, or an interrupt during a unit's files. The exit
    // status: 0 when every unit succeeded, 1 when any failed, 3 when none failed but a record
    // was not written whole, the interrupt's.
    int Run();
    // From the interrupt's thread. endsNow: the program ends at once, the tally is printed
    // here; otherwise Run ends once the unit in hand is reported, with exitStatus.
    void Interrupt(int exitStatus, bool endsNow);
    StationTally Tally() const;

  private:
    void WaitForPlc(uint32_t unit);
    void WaitUntilGone(uint32_t unit, bool succeeded);
    // One look; *atMs: the time it counts as of. RestOfTick pauses until the tick is over.
    LinkPresence Look(uint64_t* atMs);
    void RestOfTick();
    // Nothing came from the unit: no byte, or for a USB-attached unit no device.
    bool NothingFrom(LinkPresence seen) const;
    std::string WaitingNote(LinkPresence seen, uint64_t absentMs) const;
    void Event(const std::string& line);  // --events only
    // The live line; the word status, when given, is in colour on a terminal.
    void Live(const std::string& text, const char* status = nullptr);
    void EndLive();
    void Result(uint32_t unit, int status, uint64_t ms);
    void PrintTally(int exitStatus);
    int ExitStatus() const;

    StationConfig config_;
    StationHooks hooks_;
    std::ostream& out_;
    std::ostream& err_;
    mutable std::mutex mutex_;  // the tally and what is written to out and err
    StationTally tally_;
    bool liveOpen_ = false;
    bool tallyShown_ = false;
    uint64_t tickStart_ = 0;
    bool colour_ = false;
    bool controls_ = true;   // escape sequences: not on TERM=dumb
    size_t drawnChars_ = 0;  // the live line's length as last drawn
    std::atomic<int> interrupted_{0};
};

}  // namespace plccli
