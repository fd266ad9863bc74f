// The run record and what it shares with the messages (record/record.h), by the names the front
// end uses.
#pragma once

#include "record/record.h"

namespace plccli {

using plcrecord::BootloaderVersionText;
using plcrecord::IdText;
using plcrecord::JsonString;
using plcrecord::ModeText;
using plcrecord::PlcSeen;
using plcrecord::RecordFields;
using plcrecord::RecordLine;
using plcrecord::RunOutcome;
using plcrecord::RunRecorder;
using plcrecord::Sha256Hex;
using plcrecord::StationFields;
using plcrecord::TakePlcSeen;
using plcrecord::UtcIsoTime;

}  // namespace plccli
