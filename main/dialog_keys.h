// What becomes of Esc and Enter in the window. Plain code, tested on every platform.
//
// The window takes a dialog's keyboard interface from IsDialogMessageA, but it has no OK and no
// cancel control, and its command ids are the dialog keys' own: Esc becomes IDCANCEL, which is
// STARTBURN, sent with the "Start Burn" button as its sender, and Enter outside a default push
// button becomes IDOK, which is OPENFILE. Both arrive exactly as a click would, so the window
// procedure cannot tell them apart; they are sorted out in the message loop, before the dialog
// keys see them. Enter on the focused "Start Burn" presses it, as on any button, without the
// dialog keys: they send IDOK instead once Tab has taken the button's default style away.
#pragma once

enum class DialogKey {
    OTHER,   // Tab, arrows, Space and the rest: the dialog keys' usual work
    ESCAPE,  // Esc (and Cancel)
    ENTER,   // Enter (and Execute)
};

enum class KeyRoute {
    DIALOG_KEYS,       // to IsDialogMessageA as usual
    PRESS_START_BURN,  // a click of the "Start Burn" button
    HELD_BACK,         // nowhere: the key does nothing
};

// The route of a key press. onStartBurn: the press is for the enabled "Start Burn" button,
// which has the focus; focusTakesKey: the focused control asks for this key itself (a
// dropped-down list closing).
KeyRoute RouteKey(DialogKey key, bool onStartBurn, bool focusTakesKey);
