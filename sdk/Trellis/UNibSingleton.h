// UNibSingleton: the base of classes with exactly one instance per concrete
// class, however it is asked for: sharedInstance, an alloc/init pair in code,
// or a window description naming the class, loaded any number of times.
//
// Every initialisation ends at two hooks: initOnceInstance at the first only,
// initEveryInstance at each. The instance is immortal: retain, release and
// autorelease change nothing and retainCount is 4294967295.
//
// A subclass declares itself with UNIBSINGLETON_CLASS(Name, Super) in place
// of OBJC_CLASS: its alloc then answers the registered instance.
#pragma once

#include "Foundation/NSString.h"

#include <cstdint>

struct NSZone;

class UNibSingleton : public NSObject {
public:
    using super = NSObject;
    static Class class_();
    Class isa() const override { return UNibSingleton::class_(); }
    static UNibSingleton* alloc() { return allocWithZone(class_(), nullptr, [] { return new UNibSingleton(); }); }

    // The class methods, with the receiving class passed as `cls`.
    // allocWithZone: the registered instance, or one made by `make` and
    // registered. sharedInstance: the registered one or nil; it never makes one.
    static UNibSingleton* allocWithZone(Class cls, NSZone* zone, UNibSingleton* (*make)());
    static UNibSingleton* sharedInstance(Class cls);
    static void setSharedInstance(Class cls, UNibSingleton* instance);
    static BOOL sharedInstanceWasInitialized(Class cls);
    static void setSharedInstanceWasInitialized(Class cls, BOOL flag);
    static NSString* instanceKey(Class cls) { return NSStringFromClass(cls); }
    // Copying the class yields nil.
    static NSObject* copyWithZone(Class cls, NSZone* zone) { return nil; }
    static NSObject* mutableCopyWithZone(Class cls, NSZone* zone) { return nil; }

    // The registered instance of the receiver's class, after the hooks.
    UNibSingleton* init();
    virtual void initOnceInstance() {}
    virtual void initEveryInstance() {}
    void awakeFromNib() override {}

    NSObject* copy() const override { return const_cast<UNibSingleton*>(this); }
    UNibSingleton* retain() { return this; }
    UNibSingleton* autorelease() { return this; }
    void release() {}
    uint32_t retainCount() const { return UINT32_MAX; }

protected:
    UNibSingleton() = default;
    ~UNibSingleton() override = default;
};

#define UNIBSINGLETON_CLASS(Name, Super)                                                          \
public:                                                                                           \
    using super = Super;                                                                          \
    static Class class_();                                                                        \
    Class isa() const override { return Name::class_(); }                                         \
    static Name* alloc()                                                                          \
    {                                                                                             \
        return static_cast<Name*>(                                                                \
            UNibSingleton::allocWithZone(class_(), nullptr, []() -> UNibSingleton* { return new Name(); })); \
    }                                                                                             \
    static Name* sharedInstance() { return static_cast<Name*>(UNibSingleton::sharedInstance(class_())); } \
    static BOOL sharedInstanceWasInitialized() { return UNibSingleton::sharedInstanceWasInitialized(class_()); } \
    Name* init() { return static_cast<Name*>(UNibSingleton::init()); }                            \
                                                                                                  \
private:

bool import_UNibSingleton();
