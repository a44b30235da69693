// One instance per concrete class, however it is asked for.
#include "UNibSingleton.h"

#include <gtest/gtest.h>

namespace {

class Counted : public UNibSingleton {
    UNIBSINGLETON_CLASS(Counted, UNibSingleton)
public:
    int once = 0;
    int every = 0;
    bool reenter = false;
    void initOnceInstance() override
    {
        ++once;
        if (reenter)
            init();   // the flag is already up: only initEveryInstance runs
    }
    void initEveryInstance() override { ++every; }
};
OBJC_IMPLEMENTATION(Counted, UNibSingleton) {}

class CountedChild : public Counted {
    UNIBSINGLETON_CLASS(CountedChild, Counted)
};
OBJC_IMPLEMENTATION(CountedChild, Counted) {}

class NeverMade : public UNibSingleton {
    UNIBSINGLETON_CLASS(NeverMade, UNibSingleton)
};
OBJC_IMPLEMENTATION(NeverMade, UNibSingleton) {}

TEST(NibSingleton, EveryAllocInitIsTheOneInstanceWithItsHooksInOrder)
{
    EXPECT_EQ(Counted::sharedInstance(), nullptr);
    Counted* allocated = Counted::alloc();
    EXPECT_EQ(Counted::sharedInstance(), allocated);
    EXPECT_FALSE(Counted::sharedInstanceWasInitialized());
    allocated->reenter = true;

    Counted* first = allocated->init();
    EXPECT_TRUE(Counted::sharedInstanceWasInitialized());
    Counted* second = Counted::alloc()->init();
    EXPECT_EQ(first, allocated);
    EXPECT_EQ(second, allocated);
    EXPECT_EQ(first->once, 1);
    EXPECT_EQ(first->every, 3);   // the re-entered init, and the two pairs
}

TEST(NibSingleton, ASubclassHasItsOwnInstanceAndFlag)
{
    Counted* base = Counted::alloc()->init();
    CountedChild* child = CountedChild::alloc()->init();
    EXPECT_NE(static_cast<Counted*>(child), base);
    EXPECT_EQ(child->once, 1);
    EXPECT_TRUE(child->isMemberOfClass(CountedChild::class_()));
    EXPECT_EQ(UNibSingleton::instanceKey(CountedChild::class_())->utf8(), "CountedChild");
}

TEST(NibSingleton, AskingNeverMakesOneAndInitWithoutOneIsNil)
{
    EXPECT_EQ(NeverMade::sharedInstance(), nullptr);
    EXPECT_FALSE(NeverMade::sharedInstanceWasInitialized());
    EXPECT_EQ(NeverMade::sharedInstance(), nullptr);
}

TEST(NibSingleton, TheInstanceIsImmortalAndCopiesToItself)
{
    Counted* instance = Counted::alloc()->init();
    EXPECT_EQ(instance->retainCount(), 4294967295u);
    for (int i = 0; i < 10; ++i)
        instance->release();
    instance->NSObject::release();
    EXPECT_EQ(instance->retain(), instance);
    EXPECT_EQ(instance->copy(), instance);
    EXPECT_EQ(Counted::sharedInstance(), instance);
    EXPECT_EQ(instance->retainCount(), 4294967295u);
    EXPECT_EQ(UNibSingleton::copyWithZone(Counted::class_(), nullptr), nullptr);
    EXPECT_EQ(UNibSingleton::mutableCopyWithZone(Counted::class_(), nullptr), nullptr);
}

} // namespace
