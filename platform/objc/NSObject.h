// The root object of the platform: intrusive reference counting, autorelease
// pools, run-time class descriptions, key-value coding and observing, and the
// recursive lock tied to an object.
//
// Naming follows the Objective-C originals: a selector becomes a member function
// named by its first keyword, class methods are static members, and a property
// `foo` has `foo()` and `setFoo()`.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Foundation/NSGeometry.h"

class NSObject;
class NSString;
class NSSet;
class NSDictionary;
class NSNumber;
struct objc_class;
struct self_MouseCapture;

typedef NSObject* id;
typedef const objc_class* Class;
typedef signed char BOOL;
typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef unsigned long CFTypeID;

#define YES ((BOOL)1)
#define NO ((BOOL)0)
#define nil nullptr

// Run-time type identifiers. Every class inherits its superclass's identifier
// unless it names its own; the Core Foundation names map onto these.
enum : CFTypeID {
    kObjcTypeIDObject = 1,
    kCFTypeIDString = 7,
    kCFTypeIDData = 20,
    kCFTypeIDNumber = 22,
    kCFTypeIDBoolean = 21,
    kCFTypeIDDate = 42,
    kCFTypeIDURL = 29,
    kCFTypeIDArray = 19,
    kCFTypeIDDictionary = 18,
    kCFTypeIDSet = 17,
    kCFTypeIDBag = 16,
    kCFTypeIDNull = 2,
    kCFTypeIDError = 3,
    kCFTypeIDBundle = 31,
    kCFTypeIDNextFree = 64,
};

// A boxed property: how key-value coding reads and writes one key of a class.
struct objc_property {
    std::function<id(const NSObject*)> get;       // returns an autoreleased (or borrowed) object, or nil
    std::function<void(NSObject*, id)> set;       // empty for read-only properties
    // The class of the values when the getter answers objects of one
    // platform class (so key paths through it can be checked); else null.
    Class (*valueClass)() = nullptr;
};

// The run-time description of one class. Built once, lazily, the first time
// the class is asked for; immutable afterwards except for its caches.
struct objc_class {
    using Setup = void (*)(objc_class&);
    using DependencyQuery = NSSet* (*)();

    objc_class(const char* name, Class superclass, CFTypeID typeID, Setup setup);

    const char* name;
    Class superclass;
    CFTypeID typeID;
    std::map<std::string, objc_property, std::less<>> properties;
    std::vector<std::string> propertyOrder;   // keys in registration order
    // keyPathsForValuesAffecting<Key>, registered per key.
    std::map<std::string, DependencyQuery, std::less<>> dependencies;
    std::map<std::string, std::function<void(NSObject*, id)>, std::less<>> actions;
    // Keys whose setters announce their own changes by hand.
    std::vector<std::string> manualKeys;

    // Registration helpers used by the classes' setup functions.
    template <class T, class R>
    void property(const char* key, R (T::*getter)() const);
    template <class T, class R, class V>
    void property(const char* key, R (T::*getter)() const, void (T::*setter)(V));
    void dependentKeys(const char* key, DependencyQuery query) { dependencies.emplace(key, query); }
    // An action a control can send: `name` is the selector's first keyword
    // ("removeFromQuarantineAction"), the method takes the sender.
    template <class T>
    void action(const char* name, void (T::*method)(id sender));

    // Lookups walk the superclass chain.
    const objc_property* findProperty(std::string_view key) const;
    // Every property key of the class and its superclasses: the superclass's
    // first, each class's in registration order.
    std::vector<std::string> allPropertyKeys() const;
    DependencyQuery findDependencyQuery(std::string_view key) const;
    using ActionMethod = std::function<void(NSObject* target, id sender)>;
    const ActionMethod* findAction(std::string_view name) const;
    bool isSubclassOf(Class other) const;

    // Every key whose value depends, directly or transitively, on `key`'s
    // inverse: the keys that must be announced when `key` changes.
    const std::vector<std::string>& keysAffectedBy(const std::string& key) const;

private:
    mutable std::mutex cacheLock;
    mutable std::map<std::string, std::vector<std::string>, std::less<>> affectedCache;
    mutable bool allKeysKnown = false;
    mutable std::vector<std::string> dependentKeyNames;
};

// Declares the run-time class of a platform class. Put it first in the class body.
#define OBJC_CLASS(Name, Super)                                                          \
public:                                                                                  \
    using super = Super;                                                                 \
    static Class class_();                                                               \
    Class isa() const override { return Name::class_(); }                                \
    static Name* alloc() { return new Name(); }                                          \
                                                                                         \
private:

// Defines the run-time class. The block that follows is the class's setup: it
// registers properties and dependent keys on `cls`.
#define OBJC_IMPLEMENTATION_TYPEID(Name, Super, TypeID)                                  \
    static void Name##_objc_setup(objc_class& cls);                                      \
    Class Name::class_()                                                                 \
    {                                                                                    \
        static const objc_class c(#Name, Super::class_(), TypeID, &Name##_objc_setup);   \
        return &c;                                                                       \
    }                                                                                    \
    static void Name##_objc_setup([[maybe_unused]] objc_class& cls)
#define OBJC_IMPLEMENTATION(Name, Super) OBJC_IMPLEMENTATION_TYPEID(Name, Super, 0)

enum : NSUInteger {
    NSKeyValueObservingOptionNew = 0x01,
    NSKeyValueObservingOptionOld = 0x02,
    NSKeyValueObservingOptionInitial = 0x04,
    NSKeyValueObservingOptionPrior = 0x08,
};
typedef NSUInteger NSKeyValueObservingOptions;

NSString* NSStringLiteral(std::string_view utf8);
#define NSKeyValueChangeKindKey NSStringLiteral("kind")
#define NSKeyValueChangeNewKey NSStringLiteral("new")
#define NSKeyValueChangeOldKey NSStringLiteral("old")
#define NSKeyValueChangeNotificationIsPriorKey NSStringLiteral("notificationIsPrior")
enum : NSUInteger { NSKeyValueChangeSetting = 1 };

struct ObservationInfo;

class NSObject {
public:
    NSObject();
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;

    static Class class_();
    virtual Class isa() const { return class_(); }
    static NSObject* alloc() { return new NSObject(); }
    NSObject* init() { return this; }

    // Reference counting. A new object has a count of 1, owned by its creator.
    NSObject* retain() const;
    void release() const;
    NSObject* autorelease() const;
    NSUInteger retainCount() const { return m_retainCount.load(std::memory_order_relaxed); }
    // For literals and process-wide singletons: retain and release no longer
    // count, and the object is never freed.
    const NSObject* makeImmortal() const;

    BOOL isKindOfClass(Class cls) const { return isa()->isSubclassOf(cls); }
    BOOL isMemberOfClass(Class cls) const { return isa() == cls; }

    virtual NSString* description() const;
    virtual BOOL isEqual(const NSObject* other) const { return this == other; }
    virtual NSUInteger hash() const { return reinterpret_cast<uintptr_t>(this) >> 4; }
    // Copies: immutable values answer themselves retained; mutable kinds an
    // immutable copy. The caller owns the result.
    virtual NSObject* copy() const { return retain(); }
    virtual NSObject* mutableCopy() const { return nullptr; }

    // Key-value coding over the class's property table. An unknown key raises
    // "NSUnknownKeyException".
    id valueForKey(NSString* key) const;
    id valueForKey(std::string_view key) const;
    void setValueForKey(id value, NSString* key);
    void setValueForKey(id value, std::string_view key);

    // Key-value observing. Observers are not retained. Only plain keys are
    // observed (no dotted key paths).
    void addObserver(NSObject* observer, NSString* keyPath, NSKeyValueObservingOptions options, void* context);
    void addObserver(NSObject* observer, std::string_view keyPath, NSKeyValueObservingOptions options, void* context);
    void removeObserver(NSObject* observer, NSString* keyPath);
    void removeObserver(NSObject* observer, std::string_view keyPath);
    void willChangeValueForKey(NSString* key);
    void willChangeValueForKey(std::string_view key);
    void didChangeValueForKey(NSString* key);
    void didChangeValueForKey(std::string_view key);
    virtual void observeValueForKeyPath(NSString* keyPath, id object, NSDictionary* change, void* context) {}

    // The set of keys whose changes affect `key`: the registered
    // keyPathsForValuesAffecting<Key> of the class, or empty.
    static NSSet* keyPathsForValuesAffectingValueForKey(Class cls, std::string_view key);

    // NSObject(MultipleKVO), defined with the inspectors: announce every key
    // of a set, in the set's order.
    void willChangeValueForMultipleKeys(NSSet* keys);
    void didChangeValueForMultipleKeys(NSSet* keys);

    // Sent to every object a window description made, once all of them are
    // made and connected. Does nothing here.
    virtual void awakeFromNib() {}

    // NSObject(protocol_MouseCapture), defined with the UI library's mouse
    // capture loop: the loop and the pointer location it records. The
    // callbacks do nothing here; windows and views override them.
    void protocol_MouseCaptureEventLoop(self_MouseCapture* capture);
    NSPoint mouseCaptureLocation(self_MouseCapture* capture);
    virtual void mouseCaptureBegin(self_MouseCapture* capture) {}
    virtual void mouseCaptureMove(self_MouseCapture* capture) {}
    virtual void mouseCaptureIdle(self_MouseCapture* capture) {}
    virtual void mouseCaptureUp(self_MouseCapture* capture) {}
    virtual void mouseCaptureEnd(self_MouseCapture* capture) {}

protected:
    virtual ~NSObject();

    // The setter of a property: announces the key around the assignment,
    // unless the class announces the key by hand.
    template <class Field, class Value>
    void setPropertyValue(std::string_view key, Field& field, Value&& value)
    {
        bool notify = automaticallyNotifiesObserversForKey(key);
        if (notify)
            willChangeValueForKey(key);
        field = std::forward<Value>(value);
        if (notify)
            didChangeValueForKey(key);
    }
    bool automaticallyNotifiesObserversForKey(std::string_view key) const;

private:
    friend struct ObservationInfo;
    mutable std::atomic<NSUInteger> m_retainCount{1};
    std::unique_ptr<ObservationInfo> m_observationInfo;
};

// A strong reference held by a C++ member: retains what it is given and
// releases it when replaced or destroyed. Assigning a raw pointer retains it.
template <class T>
class Retained {
public:
    Retained() = default;
    Retained(std::nullptr_t) {}
    Retained(T* object) : m_object(object) { if (m_object) m_object->retain(); }
    Retained(const Retained& other) : Retained(other.m_object) {}
    Retained(Retained&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ~Retained() { if (m_object) m_object->release(); }
    Retained& operator=(T* object)
    {
        if (object)
            object->retain();
        if (m_object)
            m_object->release();
        m_object = object;
        return *this;
    }
    Retained& operator=(const Retained& other) { return *this = other.m_object; }
    Retained& operator=(Retained&& other) noexcept
    {
        if (this != &other) {
            if (m_object)
                m_object->release();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    // Takes over a reference the caller already owns (the result of a
    // create/copy/alloc call) without retaining it again.
    static Retained adopt(T* owned)
    {
        Retained r;
        r.m_object = owned;
        return r;
    }
    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    operator T*() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

// Autorelease pools nest per thread; draining a pool drains every pool pushed
// after it first, then releases its own objects in the order they arrived.
class NSAutoreleasePool : public NSObject {
    OBJC_CLASS(NSAutoreleasePool, NSObject)
public:
    NSAutoreleasePool();
    NSAutoreleasePool* init() { return this; }
    void drain();
    static void addObject(const NSObject* object);
    static size_t depth();

protected:
    ~NSAutoreleasePool() override;

private:
    std::vector<const NSObject*> m_objects;
    size_t m_level;
    bool m_drained = false;
    friend struct AutoreleasePools;
};

// A pool for the extent of a C++ scope (the `@autoreleasepool` block). When
// an exception leaves the scope the pool is not drained there: it stays in
// place and goes when an enclosing pool drains, so the exception (itself
// autoreleased) and whatever the catcher reads from it are still alive in
// the handler.
class AutoreleasePoolScope {
public:
    AutoreleasePoolScope() : m_pool(NSAutoreleasePool::alloc()->init()), m_exceptions(std::uncaught_exceptions()) {}
    ~AutoreleasePoolScope()
    {
        if (std::uncaught_exceptions() == m_exceptions)
            m_pool->drain();
    }
    AutoreleasePoolScope(const AutoreleasePoolScope&) = delete;
    AutoreleasePoolScope& operator=(const AutoreleasePoolScope&) = delete;

private:
    NSAutoreleasePool* m_pool;
    int m_exceptions;
};

// The recursive lock tied to an object.
enum { OBJC_SYNC_SUCCESS = 0, OBJC_SYNC_NOT_OWNING_THREAD_ERROR = -1 };
int objc_sync_enter(const void* object);
int objc_sync_exit(const void* object);

// The `@synchronized` block: holds the object's lock for a C++ scope and
// releases it however the scope is left, exceptions included.
class ObjcSynchronized {
public:
    explicit ObjcSynchronized(const void* object) : m_object(object) { objc_sync_enter(m_object); }
    ~ObjcSynchronized() { objc_sync_exit(m_object); }
    ObjcSynchronized(const ObjcSynchronized&) = delete;
    ObjcSynchronized& operator=(const ObjcSynchronized&) = delete;

private:
    const void* m_object;
};

NSString* NSStringFromClass(Class cls);

// Boxing of property values for key-value coding.
namespace objc_boxing {
id box(bool value);
id box(signed char value);
id box(long long value);
id box(unsigned long long value);
id box(double value);
inline id box(NSObject* value) { return value; }
inline id box(const NSObject* value) { return const_cast<NSObject*>(value); }
template <class R>
id boxAny(R value)
{
    if constexpr (std::is_pointer_v<R>)
        return box(static_cast<const NSObject*>(value));
    else if constexpr (std::is_same_v<R, bool> || std::is_same_v<R, signed char>)
        return box(value);
    else if constexpr (std::is_integral_v<R> && std::is_signed_v<R>)
        return box(static_cast<long long>(value));
    else if constexpr (std::is_integral_v<R>)
        return box(static_cast<unsigned long long>(value));
    else if constexpr (std::is_floating_point_v<R>)
        return box(static_cast<double>(value));
    else
        static_assert(sizeof(R) == 0, "no boxing for this property type");
}
bool unboxBool(id value);
long long unboxInteger(id value);
unsigned long long unboxUnsigned(id value);
double unboxDouble(id value);
template <class V>
V unboxAny(id value)
{
    using U = std::remove_cv_t<std::remove_reference_t<V>>;
    if constexpr (std::is_pointer_v<U>)
        return static_cast<U>(value);
    else if constexpr (std::is_same_v<U, bool> || std::is_same_v<U, signed char>)
        return static_cast<U>(unboxBool(value));
    else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>)
        return static_cast<U>(unboxInteger(value));
    else if constexpr (std::is_integral_v<U>)
        return static_cast<U>(unboxUnsigned(value));
    else if constexpr (std::is_floating_point_v<U>)
        return static_cast<U>(unboxDouble(value));
    else
        static_assert(sizeof(U) == 0, "no unboxing for this property type");
}
} // namespace objc_boxing

namespace objc_boxing {
template <class R>
constexpr Class (*valueClassOf())()
{
    using Object = std::remove_cv_t<std::remove_pointer_t<R>>;
    if constexpr (std::is_pointer_v<R> && requires { Object::class_(); })
        return &Object::class_;
    else
        return nullptr;
}
} // namespace objc_boxing

template <class T, class R>
void objc_class::property(const char* key, R (T::*getter)() const)
{
    if (!properties.count(key))
        propertyOrder.push_back(key);
    properties[key] = objc_property{
        [getter](const NSObject* self) { return objc_boxing::boxAny((static_cast<const T*>(self)->*getter)()); },
        nullptr, objc_boxing::valueClassOf<R>()};
}

template <class T>
void objc_class::action(const char* name, void (T::*method)(id sender))
{
    actions[name] = [method](NSObject* target, id sender) { (static_cast<T*>(target)->*method)(sender); };
}

template <class T, class R, class V>
void objc_class::property(const char* key, R (T::*getter)() const, void (T::*setter)(V))
{
    if (!properties.count(key))
        propertyOrder.push_back(key);
    properties[key] = objc_property{
        [getter](const NSObject* self) { return objc_boxing::boxAny((static_cast<const T*>(self)->*getter)()); },
        [setter](NSObject* self, id value) { (static_cast<T*>(self)->*setter)(objc_boxing::unboxAny<V>(value)); },
        objc_boxing::valueClassOf<R>()};
}
