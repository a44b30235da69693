#include "objc/NSObject.h"

#include "Foundation/Foundation.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <set>
#include <thread>
#include <unordered_map>

// Objects made by NSStringLiteral and the boolean singletons live for the
// whole process: their count sits at this value and never moves.
static constexpr NSUInteger kImmortalCount = NSUInteger(1) << 62;

// ---------------------------------------------------------------- classes

objc_class::objc_class(const char* n, Class super, CFTypeID type, Setup setup)
    : name(n), superclass(super), typeID(type ? type : (super ? super->typeID : kObjcTypeIDObject))
{
    if (setup)
        setup(*this);
}

const objc_property* objc_class::findProperty(std::string_view key) const
{
    for (Class c = this; c; c = c->superclass) {
        auto it = c->properties.find(key);
        if (it != c->properties.end())
            return &it->second;
    }
    return nullptr;
}

std::vector<std::string> objc_class::allPropertyKeys() const
{
    std::vector<std::string> keys = superclass ? superclass->allPropertyKeys() : std::vector<std::string>();
    for (const std::string& key : propertyOrder)
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    return keys;
}

objc_class::DependencyQuery objc_class::findDependencyQuery(std::string_view key) const
{
    for (Class c = this; c; c = c->superclass) {
        auto it = c->dependencies.find(key);
        if (it != c->dependencies.end())
            return it->second;
    }
    return nullptr;
}

const objc_class::ActionMethod* objc_class::findAction(std::string_view name) const
{
    for (Class c = this; c; c = c->superclass) {
        auto it = c->actions.find(name);
        if (it != c->actions.end())
            return &it->second;
    }
    return nullptr;
}

bool objc_class::isSubclassOf(Class other) const
{
    for (Class c = this; c; c = c->superclass)
        if (c == other)
            return true;
    return false;
}

static std::vector<std::string> directDependencies(const objc_class& cls, const std::string& key)
{
    std::vector<std::string> keys;
    AutoreleasePoolScope pool;
    if (NSSet* set = NSObject::keyPathsForValuesAffectingValueForKey(&cls, key))
        for (id member : *set)
            if (member->isKindOfClass(NSString::class_()))
                keys.push_back(static_cast<NSString*>(member)->utf8());
    return keys;
}

const std::vector<std::string>& objc_class::keysAffectedBy(const std::string& key) const
{
    std::lock_guard lock(cacheLock);
    if (auto it = affectedCache.find(key); it != affectedCache.end())
        return it->second;
    if (!allKeysKnown) {
        std::set<std::string> names;
        for (Class c = this; c; c = c->superclass)
            for (auto& [name, query] : c->dependencies)
                names.insert(name);
        dependentKeyNames.assign(names.begin(), names.end());
        allKeysKnown = true;
    }
    // A derived key is affected when `key` is in the transitive closure of its
    // dependencies. Cycles are harmless: each key is visited once.
    std::vector<std::string> affected;
    for (const std::string& derived : dependentKeyNames) {
        if (derived == key)
            continue;
        std::set<std::string> seen{derived};
        std::deque<std::string> queue{derived};
        bool hit = false;
        while (!queue.empty() && !hit) {
            std::string next = queue.front();
            queue.pop_front();
            for (const std::string& dep : directDependencies(*this, next)) {
                if (dep == key) {
                    hit = true;
                    break;
                }
                if (seen.insert(dep).second)
                    queue.push_back(dep);
            }
        }
        if (hit)
            affected.push_back(derived);
    }
    return affectedCache.emplace(key, std::move(affected)).first->second;
}

Class NSObject::class_()
{
    static const objc_class c("NSObject", nullptr, kObjcTypeIDObject, nullptr);
    return &c;
}

NSString* NSStringFromClass(Class cls)
{
    return cls ? NSString::stringWithUTF8String(cls->name) : nil;
}

// ---------------------------------------------------------------- reference counting

NSObject::NSObject() = default;

NSObject* NSObject::retain() const
{
    if (m_retainCount.load(std::memory_order_relaxed) < kImmortalCount)
        m_retainCount.fetch_add(1, std::memory_order_relaxed);
    return const_cast<NSObject*>(this);
}

void NSObject::release() const
{
    if (m_retainCount.load(std::memory_order_relaxed) >= kImmortalCount)
        return;
    if (m_retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

NSObject* NSObject::autorelease() const
{
    NSAutoreleasePool::addObject(this);
    return const_cast<NSObject*>(this);
}

const NSObject* NSObject::makeImmortal() const
{
    m_retainCount.store(kImmortalCount, std::memory_order_relaxed);
    return this;
}

NSString* NSObject::description() const
{
    return NSString::stringWithFormat("<%s: %p>", isa()->name, static_cast<const void*>(this));
}

// ---------------------------------------------------------------- autorelease pools

struct AutoreleasePools {
    std::vector<NSAutoreleasePool*> stack;
    ~AutoreleasePools()
    {
        // Pools still open at thread exit drain innermost first.
        while (!stack.empty())
            stack.front()->drain();
    }
};
static thread_local AutoreleasePools t_pools;

OBJC_IMPLEMENTATION(NSAutoreleasePool, NSObject) {}

NSAutoreleasePool::NSAutoreleasePool() : m_level(t_pools.stack.size())
{
    t_pools.stack.push_back(this);
}

NSAutoreleasePool::~NSAutoreleasePool() = default;

void NSAutoreleasePool::drain()
{
    if (m_drained)
        return;
    m_drained = true;
    auto& stack = t_pools.stack;
    // Pools pushed after this one drain first.
    while (stack.size() > m_level + 1)
        stack.back()->drain();
    // Releasing an object may autorelease others into this pool; keep going
    // until it is empty.
    while (!m_objects.empty()) {
        std::vector<const NSObject*> objects;
        objects.swap(m_objects);
        for (const NSObject* object : objects)
            object->release();
    }
    if (!stack.empty() && stack.back() == this)
        stack.pop_back();
    NSObject::release();
}

void NSAutoreleasePool::addObject(const NSObject* object)
{
    if (t_pools.stack.empty()) {
        std::fprintf(stderr, "*** %s %p autoreleased with no pool in place - just leaking\n", object->isa()->name,
                     static_cast<const void*>(object));
        return;
    }
    t_pools.stack.back()->m_objects.push_back(object);
}

size_t NSAutoreleasePool::depth() { return t_pools.stack.size(); }

// ---------------------------------------------------------------- locks tied to objects

namespace {
struct SyncEntry {
    std::recursive_mutex mutex;
    std::thread::id owner;
    size_t depth = 0;    // recursion depth of the owner
    size_t users = 0;    // threads holding or waiting
};
std::mutex g_syncTableLock;
std::unordered_map<const void*, SyncEntry*> g_syncTable;
} // namespace

int objc_sync_enter(const void* object)
{
    if (!object)
        return OBJC_SYNC_SUCCESS;   // @synchronized(nil) does nothing
    SyncEntry* entry;
    {
        std::lock_guard lock(g_syncTableLock);
        SyncEntry*& slot = g_syncTable[object];
        if (!slot)
            slot = new SyncEntry;
        entry = slot;
        ++entry->users;
    }
    entry->mutex.lock();
    entry->owner = std::this_thread::get_id();
    ++entry->depth;
    return OBJC_SYNC_SUCCESS;
}

int objc_sync_exit(const void* object)
{
    if (!object)
        return OBJC_SYNC_SUCCESS;
    std::lock_guard lock(g_syncTableLock);
    auto it = g_syncTable.find(object);
    if (it == g_syncTable.end() || it->second->depth == 0 || it->second->owner != std::this_thread::get_id())
        return OBJC_SYNC_NOT_OWNING_THREAD_ERROR;
    SyncEntry* entry = it->second;
    if (--entry->depth == 0)
        entry->owner = std::thread::id();
    entry->mutex.unlock();
    if (--entry->users == 0) {
        g_syncTable.erase(it);
        delete entry;
    }
    return OBJC_SYNC_SUCCESS;
}

// ---------------------------------------------------------------- key-value coding

namespace objc_boxing {
id box(bool value) { return NSNumber::numberWithBool(value); }
id box(signed char value) { return NSNumber::numberWithBool(value != 0); }
id box(long long value) { return NSNumber::numberWithLongLong(value); }
id box(unsigned long long value) { return NSNumber::numberWithUnsignedLongLong(value); }
id box(double value) { return NSNumber::numberWithDouble(value); }

static const NSNumber* asNumber(id value)
{
    if (!value || !value->isKindOfClass(NSNumber::class_()))
        NSException::raise(NSInvalidArgumentException, "a scalar property was given %@", value);
    return static_cast<const NSNumber*>(value);
}
bool unboxBool(id value) { return asNumber(value)->boolValue(); }
long long unboxInteger(id value) { return asNumber(value)->longLongValue(); }
unsigned long long unboxUnsigned(id value) { return asNumber(value)->unsignedLongLongValue(); }
double unboxDouble(id value) { return asNumber(value)->doubleValue(); }
} // namespace objc_boxing

id NSObject::valueForKey(std::string_view key) const
{
    const objc_property* property = isa()->findProperty(key);
    if (!property)
        NSException::raise(NSUnknownKeyException,
                           "[<%s %p> valueForUndefinedKey:]: this class is not key value coding-compliant for the key %s.",
                           isa()->name, static_cast<const void*>(this), std::string(key));
    return property->get(this);
}

id NSObject::valueForKey(NSString* key) const { return valueForKey(key ? key->utf8() : std::string()); }

void NSObject::setValueForKey(id value, std::string_view key)
{
    const objc_property* property = isa()->findProperty(key);
    if (!property || !property->set)
        NSException::raise(NSUnknownKeyException,
                           "[<%s %p> setValue:forUndefinedKey:]: this class is not key value coding-compliant for the key %s.",
                           isa()->name, static_cast<const void*>(this), std::string(key));
    property->set(this, value);
}

void NSObject::setValueForKey(id value, NSString* key) { setValueForKey(value, key ? key->utf8() : std::string()); }

NSSet* NSObject::keyPathsForValuesAffectingValueForKey(Class cls, std::string_view key)
{
    objc_class::DependencyQuery query = cls ? cls->findDependencyQuery(key) : nullptr;
    NSSet* keys = query ? query() : nullptr;
    return keys ? keys : NSSet::set();
}

bool NSObject::automaticallyNotifiesObserversForKey(std::string_view key) const
{
    for (Class c = isa(); c; c = c->superclass)
        if (std::find(c->manualKeys.begin(), c->manualKeys.end(), key) != c->manualKeys.end())
            return false;
    return true;
}

// ---------------------------------------------------------------- key-value observing
//
// Each object keeps its registrations and a stack of changes announced by a
// will-change notice and not yet closed by their did-change notice. A will-change
// notice of key K reaches the observers of K and of every key that depends on K
// (transitively); the matching did-change notice goes to the same registrations,
// less those removed in between. Registrations added during a change take part
// from the next change on.


struct ObservationInfo {
    struct Registration {
        NSObject* observer;
        std::string key;
        NSKeyValueObservingOptions options;
        void* context;
        uint64_t serial;
    };
    struct Target {
        Registration registration;
        Retained<NSObject> oldValue;
    };
    struct PendingChange {
        std::string key;
        std::vector<Target> targets;
    };

    std::vector<Registration> registrations;
    std::vector<PendingChange> pending;
    uint64_t nextSerial = 1;

    bool isRegistered(uint64_t serial) const
    {
        return std::any_of(registrations.begin(), registrations.end(),
                           [&](const Registration& r) { return r.serial == serial; });
    }

    static id currentValue(const NSObject* object, const std::string& key)
    {
        const objc_property* property = object->isa()->findProperty(key);
        return property ? property->get(object) : nil;
    }

    static void notify(NSObject* object, const Registration& r, NSDictionary* change)
    {
        AutoreleasePoolScope pool;
        r.observer->observeValueForKeyPath(NSString::stringWithUTF8(r.key), object, change, r.context);
    }
};

void NSObject::addObserver(NSObject* observer, std::string_view keyPath, NSKeyValueObservingOptions options, void* context)
{
    if (!observer)
        return;
    if (!m_observationInfo)
        m_observationInfo = std::make_unique<ObservationInfo>();
    ObservationInfo::Registration r{observer, std::string(keyPath), options, context, m_observationInfo->nextSerial++};
    m_observationInfo->registrations.push_back(r);
    if (options & NSKeyValueObservingOptionInitial) {
        AutoreleasePoolScope pool;
        NSMutableDictionary* change = NSMutableDictionary::dictionary();
        change->setObject(NSNumber::numberWithUnsignedLongLong(NSKeyValueChangeSetting), NSKeyValueChangeKindKey);
        if (options & NSKeyValueObservingOptionNew)
            if (id value = ObservationInfo::currentValue(this, r.key))
                change->setObject(value, NSKeyValueChangeNewKey);
        ObservationInfo::notify(this, r, change);
    }
}

void NSObject::addObserver(NSObject* observer, NSString* keyPath, NSKeyValueObservingOptions options, void* context)
{
    addObserver(observer, keyPath ? keyPath->utf8() : std::string(), options, context);
}

void NSObject::removeObserver(NSObject* observer, std::string_view keyPath)
{
    if (m_observationInfo) {
        auto& regs = m_observationInfo->registrations;
        // The most recent matching registration goes, as on the platform.
        for (auto it = regs.rbegin(); it != regs.rend(); ++it) {
            if (it->observer == observer && it->key == keyPath) {
                regs.erase(std::next(it).base());
                return;
            }
        }
    }
    NSException::raise(NSRangeException,
                       "Cannot remove an observer <%s %p> for the key path \"%s\" from <%s %p> because it is not registered as an observer.",
                       observer ? observer->isa()->name : "nil", static_cast<const void*>(observer), std::string(keyPath),
                       isa()->name, static_cast<const void*>(this));
}

void NSObject::removeObserver(NSObject* observer, NSString* keyPath)
{
    removeObserver(observer, keyPath ? keyPath->utf8() : std::string());
}

void NSObject::willChangeValueForKey(std::string_view keyView)
{
    if (!m_observationInfo || m_observationInfo->registrations.empty()) {
        // Nothing observes: still keep the bracket so that a did-change notice
        // arriving after a registration made in between finds its match.
        if (m_observationInfo)
            m_observationInfo->pending.push_back({std::string(keyView), {}});
        return;
    }
    std::string key(keyView);
    const std::vector<std::string>& affected = isa()->keysAffectedBy(key);
    ObservationInfo::PendingChange change{key, {}};
    // The changed key first, then the keys that depend on it.
    auto collect = [&](const std::string& k) {
        for (const auto& r : m_observationInfo->registrations)
            if (r.key == k)
                change.targets.push_back({r, nullptr});
    };
    collect(key);
    for (const std::string& k : affected)
        collect(k);
    for (auto& target : change.targets)
        if (target.registration.options & NSKeyValueObservingOptionOld)
            target.oldValue = ObservationInfo::currentValue(this, target.registration.key);
    // The notice is recorded before any observer runs, so an observer that
    // adds or removes registrations cannot disturb the matching.
    m_observationInfo->pending.push_back(change);
    for (const auto& target : change.targets) {
        const auto& r = target.registration;
        if (!(r.options & NSKeyValueObservingOptionPrior) || !m_observationInfo->isRegistered(r.serial))
            continue;
        AutoreleasePoolScope pool;
        NSMutableDictionary* dict = NSMutableDictionary::dictionary();
        dict->setObject(NSNumber::numberWithUnsignedLongLong(NSKeyValueChangeSetting), NSKeyValueChangeKindKey);
        dict->setObject(NSNumber::numberWithBool(true), NSKeyValueChangeNotificationIsPriorKey);
        if (target.oldValue)
            dict->setObject(target.oldValue, NSKeyValueChangeOldKey);
        ObservationInfo::notify(this, r, dict);
    }
}

void NSObject::willChangeValueForKey(NSString* key) { willChangeValueForKey(key ? key->utf8() : std::string()); }

void NSObject::didChangeValueForKey(std::string_view keyView)
{
    if (!m_observationInfo)
        return;
    auto& pending = m_observationInfo->pending;
    auto match = std::find_if(pending.rbegin(), pending.rend(),
                              [&](const ObservationInfo::PendingChange& c) { return c.key == keyView; });
    if (match == pending.rend())
        return;   // a did-change notice without its will-change notice says nothing
    ObservationInfo::PendingChange change = std::move(*match);
    pending.erase(std::next(match).base());
    for (const auto& target : change.targets) {
        const auto& r = target.registration;
        if (!m_observationInfo->isRegistered(r.serial))
            continue;
        AutoreleasePoolScope pool;
        NSMutableDictionary* dict = NSMutableDictionary::dictionary();
        dict->setObject(NSNumber::numberWithUnsignedLongLong(NSKeyValueChangeSetting), NSKeyValueChangeKindKey);
        if (target.oldValue)
            dict->setObject(target.oldValue, NSKeyValueChangeOldKey);
        if (r.options & NSKeyValueObservingOptionNew)
            if (id value = ObservationInfo::currentValue(this, r.key))
                dict->setObject(value, NSKeyValueChangeNewKey);
        ObservationInfo::notify(this, r, dict);
    }
}

void NSObject::didChangeValueForKey(NSString* key) { didChangeValueForKey(key ? key->utf8() : std::string()); }

// Defined here, where the observation registry is a complete type.
NSObject::~NSObject() = default;
