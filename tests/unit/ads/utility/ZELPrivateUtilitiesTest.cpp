#include <gtest/gtest.h>

#include "Utility/ZELPrivateUtilities.h"

namespace {

struct Companion : ZELPrivateObject {};
struct Other : ZELPrivateObject {};
// Removes another entry while it is being released.
struct Cascading : ZELPrivateObject {
    const void* alsoRemove = nullptr;
    ~Cascading() override { ZELPrivateUtilities::removePrivateObjectForKey(alsoRemove); }
};

}  // namespace

TEST(ZELPrivateUtilitiesTest, ValuesLiveWhileInTheTable) {
    int key = 0;
    auto first = std::make_shared<Companion>(), second = std::make_shared<Companion>();
    std::weak_ptr<Companion> watchFirst = first, watchSecond = second;
    ZELPrivateUtilities::setPrivateObject(std::move(first), &key);
    ZELPrivateUtilities::setPrivateObject(std::move(second), &key);
    EXPECT_TRUE(watchFirst.expired());
    EXPECT_NE(ZELPrivateUtilities::privateObjectForKey<Companion>(&key), nullptr);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey<Other>(&key), nullptr);  // another type: not this entry
    ZELPrivateUtilities::removePrivateObjectForKey(&key);
    EXPECT_TRUE(watchSecond.expired());
}

TEST(ZELPrivateUtilitiesTest, ReleasedValueMayUseTheTable) {
    int owner = 0, dependent = 0;
    // Released by replacement, then by removal.
    for (auto next : {std::make_shared<Companion>(), std::shared_ptr<Companion>()}) {
        auto cascading = std::make_shared<Cascading>();
        cascading->alsoRemove = &dependent;
        ZELPrivateUtilities::setPrivateObject(std::make_shared<Companion>(), &dependent);
        ZELPrivateUtilities::setPrivateObject(std::move(cascading), &owner);
        ZELPrivateUtilities::setPrivateObject(next, &owner);
        EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&owner), next);
        EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&dependent), nullptr);
    }
}
