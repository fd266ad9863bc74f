#include "main/dialog_keys.h"

KeyRoute RouteKey(DialogKey key, bool onStartBurn, bool focusTakesKey) {
    if (key == DialogKey::OTHER || focusTakesKey) return KeyRoute::DIALOG_KEYS;
    // Esc means "not this", never "start", even on the button.
    if (key == DialogKey::ENTER && onStartBurn) return KeyRoute::PRESS_START_BURN;
    return KeyRoute::HELD_BACK;
}
