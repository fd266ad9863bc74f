// Which key presses the window lets its dialog keys (IsDialogMessageA) turn into commands.
// Plain code, tested on every platform.
//
// The window has no OK and no cancel control, and its command ids are the dialog keys' own:
// Esc becomes IDCANCEL, which is STARTBURN, sent with the "Start Burn" button as its sender, and
// Enter outside an enabled push button becomes IDOK, which is OPENFILE. Both arrive exactly as a
// click would, so the window procedure cannot tell them apart: they are held back before the
// dialog keys see them. Enter on the focused "Start Burn" button still presses it, as on any
// button, and a control that takes the key itself (a dropped-down list closing) still gets it.
#pragma once

enum class DialogKey {
    OTHER,   // Tab, arrows, Space and the rest: the dialog keys' usual work
    ESCAPE,  // Esc (and Cancel)
    ENTER,   // Enter (and Execute)
};

// Whether a key press may go to the dialog keys. onStartBurn: the press is for the enabled
// "Start Burn" button, which has the focus; focusTakesKey: the focused control asks for this
// key itself.
bool PassToDialogKeys(DialogKey key, bool onStartBurn, bool focusTakesKey);
