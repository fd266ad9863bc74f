// The update run: the worker that performs one update from "Start Burn" to its final message.
//   - StartBurn: start of a run, size check, link opening, the probe loop, both stages, run end
//   - ONESECONDTIMER: the window's elapsed-time timer, which the worker stops before its final
//     message
//   - SetLinkOverride: the front end's own link path instead of the listed port or USB device
//   - SetCheckOnly, OpenRunLink, ReadValuesNotSeen: runs that only identify the PLC, the link
//     they use and the values they leave unread
//   - SetChangeConsent: the front end's consent before the first request that changes the PLC
//   - LinkOpenFailureMessage: the run's final message when its link does not open
//   - AwaitingUsbDevice: the run waits for the PLC's USB device after the replug
//   - LookForPlc, EndLook: what answers on the run's link, without changing it (a station)
//   - IsQm2cFamily, IsGenerationV4, IsLargeVariant: what the rules' registers mean
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/catalogue.h"

#define ONESECONDTIMER 5

// Captions of the run's message boxes.
#define CAPTION_ERROR "ERROR"
#define CAPTION_INFORMATION "Information"
#define CAPTION_INFORMATION_COM "INFORMATION"

// The worker's entry, started on its own thread with the address of paramStruct. It returns
// nothing, so that it is _beginthread's start routine as it stands.
void StartBurn(void* pParam);

// Front ends that are told a link by path (the command line's --port) open that instead of the
// listed COM port or the USB device, also when the link is opened again after a replug or a
// power cycle; a bare name (COM10, ttyUSB0) opens as a device. An empty text or nullptr goes
// back to the normal choice. Read at the start of each run.
void SetLinkOverride(const char* path);

// Front ends that only identify the PLC (the command line's --info) run with checkOnly: the run
// checks the image's size as an update does, and stops before anything that would change the PLC, the
// enter-bootloader request in application mode and the erase in bootloader mode; a run that
// passed every check ends there without a final message. Read at the start of each run.
void SetCheckOnly(bool checkOnly);
// A front end that must ask before the PLC is changed (the command line without --yes) sets a
// consent: called on the worker's thread at the same point where a check-only run stops, once
// every check has passed and nothing has changed the PLC. False ends the run there as a
// check-only run ends, without a final message, the PLC unchanged. Not set (the window, whose
// "Start Burn" is the operator's consent): the run goes on. Read at the start of each run.
void SetChangeConsent(std::function<bool()> consent);
// The link as the next run opens it: the front end's path, the PLC's USB device or the selected
// COM port; INVALID_HANDLE_VALUE when it does not open.
HANDLE OpenRunLink();
// False when the run's link names a USB port ("usb:LOCATION") and no PLC is plugged in there; a
// held handle may outlive the device it reached. True for every other link.
bool RunLinkDeviceThere();
// After a check-only run: the registers and the bootloader version that it did not read, read
// into the PLC's report with the read-only requests of the mode the PLC answered in. Nothing is
// asked of a PLC that did not answer.
void ReadValuesNotSeen();

// The names under which requests go out ("erase request" for each page's erase request), for a
// front end's trace: the watcher is told a name when such requests begin and nullptr when they
// end, on the worker's thread, before the first of them is written. nullptr: no watcher.
void SetRequestNameWatcher(std::function<void(const char* name)> watcher);

// What one look at the run's link found: no link (it does not open: a USB device that is
// absent, a serial port missing or taken), not a byte, bytes but no whole probe reply, or a
// whole reply to the mode probe from either firmware (a refusal such as RUN mode too).
enum LinkPresence { PRESENCE_NO_LINK, PRESENCE_SILENT, PRESENCE_HEARD, PRESENCE_ANSWERED };
// A look waits this long for what comes back; a station looks every 100 ms.
#define LOOK_READ_MS 90
// A USB-attached PLC's link is closed after this many silent looks in a row and opened again by
// the next look, whose open tells whether the device is still there.
#define LOOK_REOPEN_SILENT_LOOKS 3
// One look at the run's link: opens it as the next run would unless the looks hold it already,
// writes one wake-up frame and one mode probe, nothing else, and reads what arrives within
// LOOK_READ_MS. The link stays open from look to look and nothing read is thrown away, so a
// reply that comes a look or two late still counts and a reply split between looks is put
// together. Selects nothing and counts no error.
LinkPresence LookForPlc();
// Closes the link the looks hold, for the run that follows.
void EndLook();

// True while a run, after the replug pause, waits for the PLC's USB device to open (a driver
// still being installed); a front end may say so.
bool AwaitingUsbDevice();

// "CANNOT open " + the link's name ("USB", the COM port, or the front end's path) + " Port!!!".
std::string LinkOpenFailureMessage(const char* linkName);

// What the registers of the compatibility rules mean.
// D1386 tells the QM2-C family (16696 or 16695) from the QM2-TR2 family (anything else, 0 too).
bool IsQm2cFamily(uint16_t d1386);
// D1001: bits 4 to 7 read as 4 or more mean firmware generation V4, else V2/V3.
bool IsGenerationV4(uint16_t d1001);
// D1148: not 0 on the larger variant (28 of the DK2 family, 26 of the NV family).
bool IsLargeVariant(uint16_t d1148);
