// Resource and configuration header of the program.
#pragma once

// The model is fixed by the file name of the embedded image.
#define AUTO

// File name of the embedded firmware image, as bare tokens; the build may give another.
#ifndef FW_FILE
#define FW_FILE RP200_v1.14.10_20240103_01.bin
#endif

#define QUOTE_(x) #x
#define QUOTE(x) QUOTE_(x)

#define _ICON 1
#define PLCFW_BIN 8
#define _LOGO 12
