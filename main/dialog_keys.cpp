#include "main/dialog_keys.h"

bool PassToDialogKeys(DialogKey key, bool onStartBurn, bool focusTakesKey) {
    switch (key) {
        case DialogKey::ESCAPE:
            // Not even on the button: Esc means "not this", never "start".
            return focusTakesKey;
        case DialogKey::ENTER:
            return onStartBurn || focusTakesKey;
        case DialogKey::OTHER:
            break;
    }
    return true;
}
