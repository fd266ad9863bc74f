#include <gtest/gtest.h>

#include "main/dialog_keys.h"

namespace {

TEST(DialogKeys, NeitherEscNorEnterBecomesACommandUnlessMeant) {
    struct Case {
        DialogKey key;
        bool onStartBurn, focusTakesKey;
        bool passed;
    };
    const Case cases[] = {
        // Esc would be "Start Burn" itself: held back wherever the focus is.
        {DialogKey::ESCAPE, false, false, false},
        {DialogKey::ESCAPE, true, false, false},
        // Enter elsewhere would open the file dialog; on the button it presses it.
        {DialogKey::ENTER, false, false, false},
        {DialogKey::ENTER, true, false, true},
        // A dropped-down port list closes on either key.
        {DialogKey::ESCAPE, false, true, true},
        {DialogKey::ENTER, false, true, true},
        // Tab, arrows and Space keep their dialog meaning everywhere.
        {DialogKey::OTHER, false, false, true},
        {DialogKey::OTHER, true, false, true},
        {DialogKey::OTHER, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.key) * 100 + c.onStartBurn * 10 + c.focusTakesKey);
        EXPECT_EQ(PassToDialogKeys(c.key, c.onStartBurn, c.focusTakesKey), c.passed);
    }
}

}  // namespace
