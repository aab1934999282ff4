#include <gtest/gtest.h>

#include "Utility/ZELPrivateUtilities.h"

namespace {

struct Companion : ZELPrivateObject {
    int value = 0;
};
struct Other : ZELPrivateObject {};

// Removes a second entry from inside its destructor, as a private object that
// owns others may.
struct Cascading : ZELPrivateObject {
    const void* alsoRemove = nullptr;
    ~Cascading() override { ZELPrivateUtilities::removePrivateObjectForKey(alsoRemove); }
};

}  // namespace

TEST(ZELPrivateUtilitiesTest, TableRetainsValuesAndReleasesThemWhenReplacedOrRemoved) {
    int key = 0;
    auto first = std::make_shared<Companion>();
    std::weak_ptr<Companion> watchFirst = first;
    ZELPrivateUtilities::setPrivateObject(std::move(first), &key);
    EXPECT_FALSE(watchFirst.expired()) << "the table keeps its value alive";

    auto second = std::make_shared<Companion>();
    second->value = 2;
    std::weak_ptr<Companion> watchSecond = second;
    ZELPrivateUtilities::setPrivateObject(std::move(second), &key);
    EXPECT_TRUE(watchFirst.expired()) << "a replaced value is released";
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey<Companion>(&key)->value, 2);

    ZELPrivateUtilities::removePrivateObjectForKey(&key);
    EXPECT_TRUE(watchSecond.expired());
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&key), nullptr);
}

TEST(ZELPrivateUtilitiesTest, LookupsAreByIdentityAndChecked) {
    int a = 0, b = 0;
    ZELPrivateUtilities::setPrivateObject(std::make_shared<Companion>(), &a);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&b), nullptr);
    EXPECT_NE(ZELPrivateUtilities::privateObjectForKey<Companion>(&a), nullptr);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey<Other>(&a), nullptr);

    // A null value removes; a null key is ignored.
    ZELPrivateUtilities::setPrivateObject(nullptr, &a);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&a), nullptr);
    ZELPrivateUtilities::setPrivateObject(std::make_shared<Companion>(), nullptr);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(nullptr), nullptr);
    ZELPrivateUtilities::removePrivateObjectForKey(&b);  // absent: nothing happens
}

TEST(ZELPrivateUtilitiesTest, ReleasedValueMayUseTheTable) {
    int owner = 0, dependent = 0;
    auto cascading = std::make_shared<Cascading>();
    cascading->alsoRemove = &dependent;
    ZELPrivateUtilities::setPrivateObject(std::make_shared<Companion>(), &dependent);
    ZELPrivateUtilities::setPrivateObject(std::move(cascading), &owner);
    ZELPrivateUtilities::removePrivateObjectForKey(&owner);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&owner), nullptr);
    EXPECT_EQ(ZELPrivateUtilities::privateObjectForKey(&dependent), nullptr);
}
