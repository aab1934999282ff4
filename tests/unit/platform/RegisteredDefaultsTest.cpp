// Registered defaults answer for empty keys and never reach the disk; the
// device parameters take the language from them.

#include "Utility/ZELIdentifierUtilities.h"
#include "unit/support/SimTest.h"

TEST_F(SimTest, RegisteredDefaultsAnswerOnlyForEmptyKeysAndAreNotStored) {
    auto& defaults = sim().userDefaults();
    defaults.registerDefaults({{"AppleLanguages", platform::Array{"es-ES", "en"}}});
    EXPECT_EQ(defaults.objectForKey("AppleLanguages"), platform::Value(platform::Array{"es-ES", "en"}));
    EXPECT_EQ(ZELIdentifierUtilities().locale(), "es-es");

    defaults.setObject(platform::Array{"pt-PT"}, "AppleLanguages");
    EXPECT_EQ(ZELIdentifierUtilities().locale(), "pt-pt");
    defaults.synchronize();
    defaults.removeObject("AppleLanguages");
    defaults.synchronize();
    defaults.simulateRestart();
    // The registered value is back, and nothing of it was written.
    EXPECT_EQ(defaults.objectForKey("AppleLanguages"), platform::Value(platform::Array{"es-ES", "en"}));
    defaults.registerDefaults({{"AppleLanguages", platform::Array{}}});
}
