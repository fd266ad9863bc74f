// Which model the window preselects for the embedded image, in the model list's own order, and
// which port list that model gets. Plain code, tested on every platform.
#pragma once

#include <cstdint>

#include "catalogue/catalogue.h"

// The model named by an image file name: the text before its first "_". A name without "_", or
// whose prefix is longer than a model name (14 characters), names no model: the text is empty
// and the result false.
bool ModelPrefix(const char* fwFile, char out[PLC_NAME_BYTES]);

// The model list's order (a sorted combo box): letters compared without case, and hyphens
// weighed only between names that are otherwise equal, as the list box's word sort does.
int ModelListCompare(const char* a, const char* b);

// The catalogue rows in the order the model list shows them.
void ModelListOrder(uint32_t rows[PLC_COUNT]);

// The row the window preselects for an image file name: the list entry that matches the model
// prefix (the list's exact search ignores case), else the first entry of the list.
uint32_t PreselectedRow(const char* fwFile);

// Whether a model's port list is the single entry "USB" (the USB-attached models, by name).
bool UsesUsbPort(const char* modelName);
