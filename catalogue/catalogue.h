// The model catalogue and the shared run state.
//   - plcList / plcID: the 33 models with their ids, in row order
//   - the lookup by name, the test "the selected model is ..." and the model groups
//   - the shared run state (state.h), the result codes (codes.h) and what the PLC reported
//     in the latest run (report.h)
#pragma once

#include <cstdint>

#include "catalogue/codes.h"
#include "catalogue/report.h"
#include "catalogue/state.h"

#define PLC_COUNT 33
#define PLC_NAME_BYTES 15  // 14 characters and the NUL

extern const char plcList[PLC_COUNT][PLC_NAME_BYTES];
extern const uint16_t plcID[PLC_COUNT];

// A set of models given by their catalogue names.
struct ModelSet {
    const char* const* names;
    int count;
};

extern const ModelSet USB_ATTACHED_MODELS;  // 15 models reached through their USB device
extern const ModelSet COM_PORT_MODELS;      // the other 18, reached through a COM port
extern const ModelSet AIO_MODELS;           // 4 models with their own group code

// Image size classes: each class has its own limits (MaxImageBytes, MinImageBytes); class 5 is
// the 4 KiB-page models, every model in no class has the limits of the rest.
extern const ModelSet SIZE_CLASS_1_MODELS;
extern const ModelSet SIZE_CLASS_2_MODELS;
extern const ModelSet SIZE_CLASS_3_MODELS;
extern const ModelSet SIZE_CLASS_4_MODELS;
extern const ModelSet SIZE_CLASS_5_MODELS;
// The largest image the model takes (bytes; exactly this large passes) and the smallest.
uint32_t MaxImageBytes(uint32_t idx);
uint32_t MinImageBytes(uint32_t idx);

// Scans all 33 rows for an exact, case-sensitive match; returns false when no row matches.
bool LookupPLC(const char* name, uint32_t* idx, uint16_t* id);

// Whether the model in row idx is the named model / one of the set (by name, never by id).
bool ModelIs(uint32_t idx, const char* name);
bool ModelIn(uint32_t idx, const ModelSet& set);
// The same for the selected model, row selectedPLCIdx.
bool SelectedPLCIs(const char* name);
bool SelectedPLCIn(const ModelSet& set);

// Selects the model in row idx: selectedPLCIdx, selectedPLCID and selectedPLC.
void SelectPLC(uint32_t idx);
