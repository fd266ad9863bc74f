// The model catalogue and the shared run state.
//   - PLC_MODELS: one row per model with every per-model fact; plcList / plcID derived from it
//   - the lookup by name, the test "the selected model is ..." and the model groups, each a view
//     of one column of the table
//   - the image size limits of the models
//   - the shared run state (state.h), the result codes (codes.h) and what the PLC reported
//     in the latest run (report.h)
#pragma once

#include <cstdint>

#include "catalogue/codes.h"
#include "catalogue/report.h"
#include "catalogue/state.h"

#define PLC_COUNT 33
#define PLC_NAME_BYTES 15  // 14 characters and the NUL

// How the PLC is reached.
enum PlcLink : uint8_t { LINK_COM, LINK_USB };

// How the erase counts its pages beyond the whole pages of the counted bytes.
enum PageCount : uint8_t {
    PAGES_PLUS_ONE,  // one more, even for an exact multiple of the page size
    PAGES_ROUND_UP,  // one more for a partly filled last page
    PAGES_FOUR,      // always four, whatever the image size
};

// How the PLC is found again after it has been sent into its bootloader.
enum ReconnectKind : uint8_t { RECONNECT_REPLUG_USB, RECONNECT_POWER_CYCLE_COM, RECONNECT_PAUSE };

#define NO_ALIAS_ID 0xFFFF
#define KEPT_BACK_BYTES 4096

struct PlcModel {
    const char* name;
    uint16_t id;
    uint16_t aliasId;  // a second id the PLC may report in its identity; NO_ALIAS_ID: none
    PlcLink link;
    bool aio;            // sends the AIO group code
    uint32_t pageBytes;  // flash erased by one "ERASE"
    PageCount pageCount;
    uint16_t blockBytes;     // data bytes per transfer block
    uint16_t keptBackBytes;  // the image's tail that is neither erased nor sent
    uint8_t sizeClass;       // row of SIZE_LIMITS: the image size limits and their messages
    ReconnectKind reconnect;
    uint16_t reconnectPauseMs;     // after the operator's OK (or at once, for RECONNECT_PAUSE)
    bool versionGroup;             // its bootloader reports its version
    bool noReply;                  // enters its bootloader without answering the request
    uint16_t d1386, d1001, d1148;  // register values that pass the model's compatibility rule
};

extern const PlcModel (&PLC_MODELS)[PLC_COUNT];
extern const char (&plcList)[PLC_COUNT][PLC_NAME_BYTES];
extern const uint16_t (&plcID)[PLC_COUNT];

// Rows that a rule names.
enum PlcRow : uint32_t {
    ROW_QM2_TR2_V2 = 0,
    ROW_DK2 = 3,
    ROW_QM2_C_V2 = 4,
    ROW_NV = 5,
    ROW_HB_V3 = 8,
    ROW_WJB_QM2_V2 = 9,
    ROW_DK28 = 15,
    ROW_QM2_E = 16,
    ROW_RP200 = 17,
    ROW_RP200_AIO = 18,
    ROW_NV26 = 19,
    ROW_QM3 = 20,
    ROW_TR3_AIO = 23,
    ROW_QM2_TR2_V4 = 24,
    ROW_HB_V4 = 25,
    ROW_WJB_QM2_V4 = 26,
    ROW_QM2_C_V4 = 28,
    ROW_HB3_AIO = 30,
};

// A group of models: a test on a row of the table.
struct ModelSet {
    bool (*has)(const PlcModel& model);
};

extern const ModelSet USB_ATTACHED_MODELS;  // 15 models reached through their USB device
extern const ModelSet COM_PORT_MODELS;      // the other 18, reached through a COM port
extern const ModelSet AIO_MODELS;           // 4 models with their own group code
extern const ModelSet PAGE_4KIB_MODELS;     // 9 models; the first failed "ERASE" ends the erase
extern const ModelSet BLOCK_256_MODELS;     // 15 models with 256 data bytes per block
extern const ModelSet BLOCK_128_MODELS;     // 18 models with 128 data bytes per block
extern const ModelSet NO_REPLY_MODELS;      // a request without a full reply counts as accepted
extern const ModelSet BOOTLOADER_VERSION_GROUP_MODELS;  // the twelve whose version is read
extern const ModelSet POWER_CYCLE_MODELS;  // back in the bootloader only after a power cycle
extern const ModelSet SIZE_CLASS_1_MODELS;
extern const ModelSet SIZE_CLASS_2_MODELS;
extern const ModelSet SIZE_CLASS_3_MODELS;
extern const ModelSet SIZE_CLASS_4_MODELS;
extern const ModelSet SIZE_CLASS_5_MODELS;

// The bootloader-version group as the rule dispatch and the bootloader stage see it: by id.
bool InBootloaderVersionGroup(uint16_t id);

// Image size limits, one row per size class (row 0 unused).
struct SizeLimits {
    uint32_t maxBytes;  // an image exactly this large passes
    uint32_t minBytes;  // smaller images have nothing (or too little) to write
};
#define SIZE_CLASS_COUNT 7
#define SIZE_CLASS_OTHERS 6  // the models that no other class names
extern const SizeLimits (&SIZE_LIMITS)[SIZE_CLASS_COUNT];
// The model's size class; SIZE_CLASS_OTHERS for a row outside the catalogue.
uint8_t SizeClassOf(uint32_t idx);
// The largest image the model takes (bytes; exactly this large passes) and the smallest.
uint32_t MaxImageBytes(uint32_t idx);
uint32_t MinImageBytes(uint32_t idx);
// Counts for the model in catalogue row idx and an image of imageBytes bytes. Both are 0 when
// the model would be sent no image byte at all (an empty image, or one of the 4 KiB-page
// models with 4096 bytes or less): the erase and the transfer refuse such an image.
uint32_t ErasePageCount(uint32_t idx, uint32_t imageBytes);
uint32_t TransferBlockCount(uint32_t idx, uint32_t imageBytes);
// Data bytes per block (256 or 128; 0 for a row outside the catalogue) and the image bytes the
// transfer takes from the cursor in total, never more than imageBytes.
uint32_t BlockDataBytes(uint32_t idx);
uint32_t ImageBytesSent(uint32_t idx, uint32_t imageBytes);

// Scans all 33 rows for an exact, case-sensitive match; returns false when no row matches.
bool LookupPLC(const char* name, uint32_t* idx, uint16_t* id);

// Whether the model in row idx is the named model / one of the set.
bool ModelIs(uint32_t idx, const char* name);
bool ModelIn(uint32_t idx, const ModelSet& set);
// The same for the selected model, row selectedPLCIdx.
bool SelectedPLCIs(const char* name);
bool SelectedPLCIn(const ModelSet& set);
// The row of the selected model; row 0 when the selection is outside the catalogue.
const PlcModel& SelectedModel();

// Selects the model in row idx: selectedPLCIdx, selectedPLCID and selectedPLC.
void SelectPLC(uint32_t idx);
