#include <gtest/gtest.h>

#include "main/dialog_keys.h"

namespace {

TEST(DialogKeys, NeitherEscNorEnterBecomesACommandUnlessMeant) {
    const KeyRoute DIALOG = KeyRoute::DIALOG_KEYS, PRESS = KeyRoute::PRESS_START_BURN,
                   NONE = KeyRoute::HELD_BACK;
    struct Case {
        DialogKey key;
        bool onStartBurn, focusTakesKey;
        KeyRoute route;
    };
    const Case cases[] = {
        // Esc would be "Start Burn" itself: held back wherever the focus is.
        {DialogKey::ESCAPE, false, false, NONE},
        {DialogKey::ESCAPE, true, false, NONE},
        // Enter elsewhere would open the file dialog; on the button it presses it.
        {DialogKey::ENTER, false, false, NONE},
        {DialogKey::ENTER, true, false, PRESS},
        // A dropped-down port list closes on either key.
        {DialogKey::ESCAPE, false, true, DIALOG},
        {DialogKey::ENTER, false, true, DIALOG},
        // Tab, arrows and Space keep their dialog meaning everywhere.
        {DialogKey::OTHER, false, false, DIALOG},
        {DialogKey::OTHER, true, false, DIALOG},
        {DialogKey::OTHER, false, true, DIALOG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.key) * 100 + c.onStartBurn * 10 + c.focusTakesKey);
        EXPECT_EQ(RouteKey(c.key, c.onStartBurn, c.focusTakesKey), c.route);
    }
}

}  // namespace
