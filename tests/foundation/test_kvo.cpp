// Change notices, dependent keys, key-value coding, exceptions and the object lock.
#include "Foundation/Foundation.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// c depends on b, b depends on a: changing a must announce b and c.
class Chain : public NSObject {
    OBJC_CLASS(Chain, NSObject)
public:
    int a() const { return m_a; }
    void setA(int value) { setPropertyValue("a", m_a, value); }
    int b() const { return m_a * 2; }
    int c() const { return b() + 1; }
    NSString* name() const { return m_name; }
    void setName(NSString* name) { setPropertyValue("name", m_name, name); }
    static NSSet* keyPathsForValuesAffectingB() { return NSSet::setWithObjects({NSSTR("a")}); }
    static NSSet* keyPathsForValuesAffectingC() { return NSSet::setWithObjects({NSSTR("b")}); }

private:
    int m_a = 0;
    Retained<NSString> m_name;
};

OBJC_IMPLEMENTATION(Chain, NSObject)
{
    cls.property("a", &Chain::a, &Chain::setA);
    cls.property("b", &Chain::b);
    cls.property("c", &Chain::c);
    cls.property("name", &Chain::name, &Chain::setName);
    cls.dependentKeys("b", &Chain::keyPathsForValuesAffectingB);
    cls.dependentKeys("c", &Chain::keyPathsForValuesAffectingC);
}

// d depends on b and c, both of which depend on a.
class Diamond : public NSObject {
    OBJC_CLASS(Diamond, NSObject)
public:
    int a() const { return m_a; }
    void setA(int value) { setPropertyValue("a", m_a, value); }
    int b() const { return m_a + 1; }
    int c() const { return m_a + 2; }
    int d() const { return b() + c(); }
    static NSSet* keyPathsForValuesAffectingB() { return NSSet::setWithObjects({NSSTR("a")}); }
    static NSSet* keyPathsForValuesAffectingC() { return NSSet::setWithObjects({NSSTR("a")}); }
    static NSSet* keyPathsForValuesAffectingD() { return NSSet::setWithObjects({NSSTR("b"), NSSTR("c")}); }

private:
    int m_a = 0;
};

OBJC_IMPLEMENTATION(Diamond, NSObject)
{
    cls.property("a", &Diamond::a, &Diamond::setA);
    cls.property("b", &Diamond::b);
    cls.property("c", &Diamond::c);
    cls.property("d", &Diamond::d);
    cls.dependentKeys("b", &Diamond::keyPathsForValuesAffectingB);
    cls.dependentKeys("c", &Diamond::keyPathsForValuesAffectingC);
    cls.dependentKeys("d", &Diamond::keyPathsForValuesAffectingD);
}

// A derived key whose getter raises once its base key is set.
class Fragile : public NSObject {
    OBJC_CLASS(Fragile, NSObject)
public:
    int a() const { return m_a; }
    void setA(int value) { setPropertyValue("a", m_a, value); }
    int broken() const
    {
        if (m_a != 0)
            NSException::raise(NSInternalInconsistencyException, "broken getter %d", m_a);
        return 0;
    }
    static NSSet* keyPathsForValuesAffectingBroken() { return NSSet::setWithObjects({NSSTR("a")}); }

private:
    int m_a = 0;
};

OBJC_IMPLEMENTATION(Fragile, NSObject)
{
    cls.property("a", &Fragile::a, &Fragile::setA);
    cls.property("broken", &Fragile::broken);
    cls.dependentKeys("broken", &Fragile::keyPathsForValuesAffectingBroken);
}

// Records every notice it gets as "will:key" / "did:key=value".
class Recorder : public NSObject {
    OBJC_CLASS(Recorder, NSObject)
public:
    std::vector<std::string> log;
    std::function<void(NSString*, bool)> onNotice;
    void observeValueForKeyPath(NSString* keyPath, id object, NSDictionary* change, void* context) override
    {
        bool prior = change->objectForKey(NSKeyValueChangeNotificationIsPriorKey) != nil;
        std::string entry = (prior ? "will:" : "did:") + keyPath->utf8();
        if (!prior)
            if (id value = change->objectForKey(NSKeyValueChangeNewKey))
                entry += "=" + value->description()->utf8();
        log.push_back(entry);
        if (onNotice)
            onNotice(keyPath, prior);
    }
};
OBJC_IMPLEMENTATION(Recorder, NSObject) {}

constexpr auto kBoth = NSKeyValueObservingOptionPrior | NSKeyValueObservingOptionNew;

struct KVO : testing::Test {
    Retained<Chain> chain = Retained<Chain>::adopt(Chain::alloc());
    Retained<Recorder> recorder = Retained<Recorder>::adopt(Recorder::alloc());
    void TearDown() override
    {
        for (const char* key : {"a", "b", "c", "name"})
            try {
                chain->removeObserver(recorder, key);
            } catch (NSException*) {
            }
    }
};

TEST_F(KVO, SetterAnnouncesWillBeforeDidOncePerObserver)
{
    chain->addObserver(recorder, "a", kBoth, nullptr);
    chain->setA(5);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:a", "did:a=5"}));
}

TEST_F(KVO, DependentKeysAreResolvedTransitively)
{
    chain->addObserver(recorder, "c", kBoth, nullptr);
    chain->setA(3);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:c", "did:c=7"}));

    // Observing all three: each gets exactly one pair, key first.
    recorder->log.clear();
    chain->addObserver(recorder, "a", kBoth, nullptr);
    chain->addObserver(recorder, "b", kBoth, nullptr);
    chain->setA(1);
    EXPECT_EQ(recorder->log,
              (std::vector<std::string>{"will:a", "will:b", "will:c", "did:a=1", "did:b=2", "did:c=3"}));
}

TEST_F(KVO, WillChangeReachesOnlyPriorObserversDidChangeReachesAll)
{
    Retained<Recorder> plain = Retained<Recorder>::adopt(Recorder::alloc());
    chain->addObserver(recorder, "b", kBoth, nullptr);
    chain->addObserver(plain, "b", NSKeyValueObservingOptionNew, nullptr);
    chain->setA(4);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:b", "did:b=8"}));
    EXPECT_EQ(plain->log, (std::vector<std::string>{"did:b=8"}));
    chain->removeObserver(plain, "b");
}

TEST(KVODiamond, KeyReachedThroughTwoDependentsIsAnnouncedOnce)
{
    Retained<Diamond> diamond = Retained<Diamond>::adopt(Diamond::alloc());
    Retained<Recorder> recorder = Retained<Recorder>::adopt(Recorder::alloc());
    diamond->addObserver(recorder, "d", kBoth, nullptr);
    diamond->setA(1);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:d", "did:d=5"}));
    diamond->removeObserver(recorder, "d");
}

TEST_F(KVO, UnrelatedKeyDoesNotNotifyDependents)
{
    chain->addObserver(recorder, "c", kBoth, nullptr);
    chain->setName(NSSTR("x"));
    EXPECT_TRUE(recorder->log.empty());
}

TEST_F(KVO, ObserverRemovedDuringWillChangeGetsNoDidChange)
{
    Retained<Recorder> second = Retained<Recorder>::adopt(Recorder::alloc());
    chain->addObserver(recorder, "a", kBoth, nullptr);
    chain->addObserver(second, "a", kBoth, nullptr);
    recorder->onNotice = [&](NSString*, bool prior) {
        if (prior)
            chain->removeObserver(second, "a");
    };
    chain->setA(2);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:a", "did:a=2"}));
    EXPECT_TRUE(second->log.empty());
}

TEST_F(KVO, ObserverAddedDuringANoticeJoinsFromTheNextChange)
{
    Retained<Recorder> late = Retained<Recorder>::adopt(Recorder::alloc());
    chain->addObserver(recorder, "a", kBoth, nullptr);
    bool added = false;
    recorder->onNotice = [&](NSString*, bool prior) {
        if (prior && !added) {
            added = true;
            chain->addObserver(late, "a", kBoth, nullptr);
        }
    };
    chain->setA(1);
    EXPECT_TRUE(late->log.empty());
    chain->setA(2);
    EXPECT_EQ(late->log, (std::vector<std::string>{"will:a", "did:a=2"}));
    chain->removeObserver(late, "a");
}

TEST_F(KVO, ExplicitNoticesBracketChangesNoSetterMakes)
{
    chain->addObserver(recorder, "b", kBoth, nullptr);
    chain->willChangeValueForKey("a");
    chain->willChangeValueForKey("name");
    chain->didChangeValueForKey("name");
    chain->didChangeValueForKey("a");
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:b", "did:b=0"}));
}

TEST_F(KVO, RemovingAnUnregisteredObserverRaises)
{
    EXPECT_THROW(chain->removeObserver(recorder, "a"), NSException*);
}

TEST(KeyValueCoding, BoxesScalarsAndReadsObjects)
{
    Retained<Chain> chain = Retained<Chain>::adopt(Chain::alloc());
    chain->setValueForKey(NSNumber::numberWithInt(4), "a");
    EXPECT_EQ(chain->a(), 4);
    id c = chain->valueForKey("c");
    ASSERT_TRUE(c->isKindOfClass(NSNumber::class_()));
    EXPECT_EQ(static_cast<NSNumber*>(c)->intValue(), 9);
    chain->setName(NSSTR("n"));
    EXPECT_TRUE(chain->valueForKey("name")->isEqual(NSSTR("n")));

    try {
        chain->valueForKey("missing");
        FAIL() << "no exception";
    } catch (NSException* e) {
        EXPECT_TRUE(e->name()->isEqualToString(NSUnknownKeyException));
    }
}

TEST(Exceptions, GuardedRegionCatchesOnlyPlatformExceptions)
{
    auto guarded = [](auto body) -> std::string {
        try {
            body();
        } catch (NSException* e) {
            return "caught:" + e->reason()->utf8();
        }
        return "none";
    };
    EXPECT_EQ(guarded([] { NSException::raise(NSGenericException, "bad %d", 7); }), "caught:bad 7");
    EXPECT_THROW(guarded([] { throw std::runtime_error("other"); }), std::runtime_error);
}

// An exception is autoreleased into the innermost pool; leaving a scoped pool
// must not free it before the handler has read it.
TEST(Exceptions, OutliveTheScopedPoolTheyLeave)
{
    std::string reason;
    try {
        AutoreleasePoolScope pool;
        NSException::raise(NSGenericException, "raised in a scope");
    } catch (NSException* e) {
        reason = e->reason()->utf8() + "|" + e->description()->utf8();
    }
    EXPECT_EQ(reason, "raised in a scope|raised in a scope");

    // The notice machinery reads getters inside its own pools.
    Retained<Fragile> fragile = Retained<Fragile>::adopt(Fragile::alloc());
    Retained<Recorder> recorder = Retained<Recorder>::adopt(Recorder::alloc());
    fragile->addObserver(recorder, "broken", NSKeyValueObservingOptionNew, nullptr);
    reason.clear();
    try {
        fragile->setA(3);
    } catch (NSException* e) {
        reason = NSString::stringWithFormat("%@: %@", e->name(), e)->utf8();
    }
    EXPECT_EQ(reason, "NSInternalInconsistencyException: broken getter 3");
    fragile->removeObserver(recorder, "broken");
}

TEST(Exceptions, ObjectsOfALeftPoolGoWhenTheEnclosingPoolDrains)
{
    NSObject* probe = NSObject::alloc();
    {
        AutoreleasePoolScope outer;
        try {
            AutoreleasePoolScope inner;
            probe->retain()->autorelease();
            throw std::runtime_error("leave");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(probe->retainCount(), 2u);
    }
    EXPECT_EQ(probe->retainCount(), 1u);
    probe->release();
}

TEST(ObjectLock, IsRecursiveAndReleasedWhenAnExceptionLeaves)
{
    Retained<NSObject> object = Retained<NSObject>::adopt(NSObject::alloc());
    {
        ObjcSynchronized outer(object);
        ObjcSynchronized inner(object);   // same thread: no deadlock
    }
    try {
        ObjcSynchronized locked(object);
        NSException::raise(NSGenericException, "leave");
    } catch (NSException*) {
    }
    // Another thread can take the lock now.
    bool taken = false;
    std::thread other([&] {
        ObjcSynchronized locked(object);
        taken = true;
    });
    other.join();
    EXPECT_TRUE(taken);
    EXPECT_EQ(objc_sync_exit(object), OBJC_SYNC_NOT_OWNING_THREAD_ERROR);
}

TEST(ObjectLock, BlocksOtherThreadsWhileHeld)
{
    Retained<NSObject> object = Retained<NSObject>::adopt(NSObject::alloc());
    std::atomic<int> stage{0};
    objc_sync_enter(object);
    std::thread other([&] {
        objc_sync_enter(object);
        stage = 2;
        objc_sync_exit(object);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(), 0);
    objc_sync_exit(object);
    other.join();
    EXPECT_EQ(stage.load(), 2);
}

} // namespace
