#include "Foundation/Foundation.h"

#include <algorithm>
#include <bit>
#include <cstdint>

// ---------------------------------------------------------------- descriptions
//
// Collections print in the old property-list text form, four spaces a level:
//   {
//       key = value;
//       "two words" = (
//           1,
//           2
//       );
//   }
// Strings are quoted unless they are non-empty and made only of letters,
// digits and "_$:./-".

namespace {

std::string quoted(const NSString* s)
{
    std::string text = s->utf8();
    bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_$:./-").find(static_cast<char>(c)) != std::string_view::npos;
    });
    if (plain)
        return text;
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default: out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string describeNested(const NSObject* object, int level);

std::string describeList(char open, char close, const std::vector<Retained<NSObject>>& items, int level)
{
    std::string indent(static_cast<size_t>(level + 1) * 4, ' ');
    std::string out(1, open);
    out += '\n';
    for (size_t i = 0; i < items.size(); ++i) {
        out += indent + describeNested(items[i], level + 1);
        out += i + 1 < items.size() ? ",\n" : "\n";
    }
    return out + std::string(static_cast<size_t>(level) * 4, ' ') + close;
}

std::string describeNested(const NSObject* object, int level)
{
    if (!object)
        return "(null)";
    AutoreleasePoolScope pool;
    if (object->isKindOfClass(NSString::class_()))
        return quoted(static_cast<const NSString*>(object));
    if (object->isKindOfClass(NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(object);
        std::string indent(static_cast<size_t>(level + 1) * 4, ' ');
        std::string out = "{\n";
        for (NSUInteger i = 0; i < dict->count(); ++i)
            out += indent + describeNested(dict->keyAtIndex(i), level + 1) + " = " +
                   describeNested(dict->valueAtIndex(i), level + 1) + ";\n";
        return out + std::string(static_cast<size_t>(level) * 4, ' ') + "}";
    }
    if (object->isKindOfClass(NSArray::class_())) {
        auto* array = static_cast<const NSArray*>(object);
        return describeList('(', ')', std::vector<Retained<NSObject>>(array->begin(), array->end()), level);
    }
    if (object->isKindOfClass(NSSet::class_())) {
        auto* set = static_cast<const NSSet*>(object);
        return describeList('(', ')', std::vector<Retained<NSObject>>(set->begin(), set->end()), level);
    }
    NSString* text = object->description();
    return text ? text->utf8() : "(null)";
}

} // namespace

// ---------------------------------------------------------------- the hash index

namespace {

// Up to this many members are searched straight through their hashes.
constexpr size_t kScannedMembers = 16;

size_t slotOf(NSUInteger hash, size_t mask)
{
    // Hashes such as a number's own value cluster; spread them first.
    uint64_t x = static_cast<uint64_t>(hash) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(x ^ (x >> 32)) & mask;
}

} // namespace

long OrderedHashIndex::find(const std::vector<Retained<NSObject>>& keys, const NSObject* key) const
{
    if (!key)
        return -1;
    const NSUInteger hash = key->hash();
    if (m_slots.empty()) {
        for (size_t i = 0; i < m_hashes.size(); ++i)
            if (m_hashes[i] == hash && keys[i]->isEqual(key))
                return static_cast<long>(i);
        return -1;
    }
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = slotOf(hash, mask);; slot = (slot + 1) & mask) {
        const size_t entry = m_slots[slot];
        if (entry == 0)
            return -1;
        if (m_hashes[entry - 1] == hash && keys[entry - 1]->isEqual(key))
            return static_cast<long>(entry - 1);
    }
}

void OrderedHashIndex::add(const NSObject* key)
{
    m_hashes.push_back(key->hash());
    if (m_slots.empty()) {
        if (m_hashes.size() > kScannedMembers)
            makeTable(4 * m_hashes.size());
    } else if (2 * m_hashes.size() > m_slots.size()) {
        makeTable(2 * m_slots.size());
    } else {
        place(m_hashes.size() - 1);
    }
}

void OrderedHashIndex::rebuild(const std::vector<Retained<NSObject>>& keys)
{
    m_hashes.clear();
    m_slots.clear();
    for (const auto& key : keys)
        add(key);
}

void OrderedHashIndex::place(size_t position)
{
    const size_t mask = m_slots.size() - 1;
    size_t slot = slotOf(m_hashes[position], mask);
    while (m_slots[slot] != 0)
        slot = (slot + 1) & mask;
    m_slots[slot] = position + 1;
}

void OrderedHashIndex::makeTable(size_t slots)
{
    m_slots.assign(std::bit_ceil(slots), 0);
    for (size_t i = 0; i < m_hashes.size(); ++i)
        place(i);
}

// ---------------------------------------------------------------- NSArray

OBJC_IMPLEMENTATION_TYPEID(NSArray, NSObject, kCFTypeIDArray)
{
    cls.property("count", &NSArray::count);
}

NSArray* NSArray::array() { return static_cast<NSArray*>((new NSArray)->autorelease()); }

NSArray* NSArray::arrayWithObjects(std::initializer_list<id> objects) { return arrayWithVector(std::vector<id>(objects)); }

NSArray* NSArray::arrayWithVector(const std::vector<id>& objects)
{
    NSArray* a = new NSArray;
    a->autorelease();
    for (id object : objects) {
        if (!object)
            NSException::raise(NSInvalidArgumentException, "-[NSArray initWithObjects:count:]: attempt to insert nil object");
        a->m_objects.emplace_back(object);
    }
    return a;
}

NSArray* NSArray::arrayWithArray(const NSArray* other)
{
    NSArray* a = array();
    if (other)
        a->m_objects = other->m_objects;
    return a;
}

id NSArray::objectAtIndex(NSUInteger index) const
{
    if (index >= m_objects.size())
        NSException::raise(NSRangeException, "-[NSArray objectAtIndex:]: index %lu beyond bounds [0 .. %ld]", index,
                           static_cast<long>(m_objects.size()) - 1);
    return m_objects[index];
}

NSUInteger NSArray::indexOfObject(const NSObject* object) const
{
    for (size_t i = 0; i < m_objects.size(); ++i)
        if (object && m_objects[i]->isEqual(object))
            return i;
    return NSNotFound;
}

NSString* NSArray::componentsJoinedByString(const NSString* separator) const
{
    NSMutableString* out = NSMutableString::string();
    for (size_t i = 0; i < m_objects.size(); ++i) {
        if (i)
            out->appendString(separator);
        out->appendString(m_objects[i]->description());
    }
    return out;
}

NSArray* NSArray::sortedArrayUsingSelector_compare() const
{
    NSArray* a = arrayWithArray(this);
    std::stable_sort(a->m_objects.begin(), a->m_objects.end(), [](const Retained<NSObject>& x, const Retained<NSObject>& y) {
        if (x->isKindOfClass(NSString::class_()) && y->isKindOfClass(NSString::class_()))
            return static_cast<NSString*>(x.get())->compare(static_cast<NSString*>(y.get())) < 0;
        if (x->isKindOfClass(NSNumber::class_()) && y->isKindOfClass(NSNumber::class_()))
            return static_cast<NSNumber*>(x.get())->compare(static_cast<NSNumber*>(y.get())) < 0;
        return false;
    });
    return a;
}

NSString* NSArray::description() const { return NSString::stringWithUTF8(describeNested(this, 0)); }

BOOL NSArray::isEqual(const NSObject* other) const
{
    if (!other || !other->isKindOfClass(NSArray::class_()))
        return false;
    auto* a = static_cast<const NSArray*>(other);
    if (a->m_objects.size() != m_objects.size())
        return false;
    for (size_t i = 0; i < m_objects.size(); ++i)
        if (!m_objects[i]->isEqual(a->m_objects[i]))
            return false;
    return true;
}

NSObject* NSArray::copy() const
{
    if (isMemberOfClass(NSArray::class_()))
        return retain();
    NSArray* a = new NSArray;
    a->m_objects = m_objects;
    return a;
}

NSObject* NSArray::mutableCopy() const
{
    NSMutableArray* a = new NSMutableArray;
    a->m_objects = m_objects;
    return a;
}

OBJC_IMPLEMENTATION(NSMutableArray, NSArray) {}

NSMutableArray* NSMutableArray::array() { return static_cast<NSMutableArray*>((new NSMutableArray)->autorelease()); }

NSMutableArray* NSMutableArray::arrayWithArray(const NSArray* other)
{
    NSMutableArray* a = array();
    a->addObjectsFromArray(other);
    return a;
}

void NSMutableArray::addObject(id object)
{
    if (!object)
        NSException::raise(NSInvalidArgumentException, "-[NSMutableArray addObject:]: object cannot be nil");
    m_objects.emplace_back(object);
}

void NSMutableArray::addObjectsFromArray(const NSArray* other)
{
    if (other)
        for (id object : *other)
            m_objects.emplace_back(object);
}

void NSMutableArray::insertObject(id object, NSUInteger index)
{
    if (!object)
        NSException::raise(NSInvalidArgumentException, "-[NSMutableArray insertObject:atIndex:]: object cannot be nil");
    if (index > m_objects.size())
        NSException::raise(NSRangeException, "-[NSMutableArray insertObject:atIndex:]: index %lu beyond bounds", index);
    m_objects.insert(m_objects.begin() + static_cast<long>(index), Retained<NSObject>(object));
}

void NSMutableArray::removeObjectAtIndex(NSUInteger index)
{
    if (index >= m_objects.size())
        NSException::raise(NSRangeException, "-[NSMutableArray removeObjectAtIndex:]: index %lu beyond bounds", index);
    m_objects.erase(m_objects.begin() + static_cast<long>(index));
}

void NSMutableArray::removeObject(const NSObject* object)
{
    std::erase_if(m_objects, [&](const Retained<NSObject>& o) { return object && o->isEqual(object); });
}

// ---------------------------------------------------------------- NSDictionary

OBJC_IMPLEMENTATION_TYPEID(NSDictionary, NSObject, kCFTypeIDDictionary)
{
    cls.property("count", &NSDictionary::count);
}

NSDictionary* NSDictionary::dictionary() { return static_cast<NSDictionary*>((new NSDictionary)->autorelease()); }

NSDictionary* NSDictionary::dictionaryWithObjectsForKeys(std::initializer_list<std::pair<id, id>> objectsAndKeys)
{
    NSDictionary* d = dictionary();
    for (auto& [object, key] : objectsAndKeys)
        d->store(object, key);
    return d;
}

NSDictionary* NSDictionary::dictionaryWithDictionary(const NSDictionary* other)
{
    NSDictionary* d = dictionary();
    if (other) {
        d->m_keys = other->m_keys;
        d->m_values = other->m_values;
        d->m_index = other->m_index;
    }
    return d;
}

void NSDictionary::store(id object, const NSObject* key)
{
    if (!object || !key)
        NSException::raise(NSInvalidArgumentException, "-[NSMutableDictionary setObject:forKey:]: %s cannot be nil",
                           object ? "key" : "object");
    long at = m_index.find(m_keys, key);
    if (at >= 0) {
        m_values[static_cast<size_t>(at)] = object;
        return;
    }
    m_keys.push_back(Retained<NSObject>::adopt(key->copy()));
    m_values.emplace_back(object);
    m_index.add(m_keys.back());
}

id NSDictionary::objectForKey(const NSObject* key) const
{
    long at = m_index.find(m_keys, key);
    return at >= 0 ? m_values[static_cast<size_t>(at)].get() : nil;
}

id NSDictionary::objectForKey(std::string_view key) const
{
    AutoreleasePoolScope pool;
    return objectForKey(NSString::stringWithUTF8(key));
}

NSArray* NSDictionary::allKeys() const
{
    NSMutableArray* a = NSMutableArray::array();
    for (id key : m_keys)
        a->addObject(key);
    return a;
}

NSArray* NSDictionary::allValues() const
{
    NSMutableArray* a = NSMutableArray::array();
    for (id value : m_values)
        a->addObject(value);
    return a;
}

NSString* NSDictionary::description() const { return NSString::stringWithUTF8(describeNested(this, 0)); }

BOOL NSDictionary::isEqual(const NSObject* other) const
{
    if (!other || !other->isKindOfClass(NSDictionary::class_()))
        return false;
    auto* d = static_cast<const NSDictionary*>(other);
    if (d->count() != count())
        return false;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        id value = d->objectForKey(m_keys[i].get());
        if (!value || !value->isEqual(m_values[i]))
            return false;
    }
    return true;
}

// Copies are made directly, without passing through an autorelease pool, so
// they can be taken during program load.
NSObject* NSDictionary::copy() const
{
    if (isMemberOfClass(NSDictionary::class_()))
        return retain();
    NSDictionary* d = new NSDictionary;
    d->m_keys = m_keys;
    d->m_values = m_values;
    d->m_index = m_index;
    return d;
}

NSObject* NSDictionary::mutableCopy() const
{
    NSMutableDictionary* d = new NSMutableDictionary;
    d->m_keys = m_keys;
    d->m_values = m_values;
    d->m_index = m_index;
    return d;
}

OBJC_IMPLEMENTATION(NSMutableDictionary, NSDictionary) {}

NSMutableDictionary* NSMutableDictionary::dictionary()
{
    return static_cast<NSMutableDictionary*>((new NSMutableDictionary)->autorelease());
}

NSMutableDictionary* NSMutableDictionary::dictionaryWithDictionary(const NSDictionary* other)
{
    NSMutableDictionary* d = dictionary();
    if (other)
        for (NSUInteger i = 0; i < other->count(); ++i)
            d->store(other->valueAtIndex(i), other->keyAtIndex(i));
    return d;
}

void NSMutableDictionary::setObject(id object, const NSObject* key) { store(object, key); }

void NSMutableDictionary::removeObjectForKey(const NSObject* key)
{
    long at = m_index.find(m_keys, key);
    if (at < 0)
        return;
    m_keys.erase(m_keys.begin() + at);
    m_values.erase(m_values.begin() + at);
    m_index.rebuild(m_keys);
}

void NSMutableDictionary::removeAllObjects()
{
    m_keys.clear();
    m_values.clear();
    m_index.rebuild(m_keys);
}

// ---------------------------------------------------------------- NSSet

OBJC_IMPLEMENTATION_TYPEID(NSSet, NSObject, kCFTypeIDSet)
{
    cls.property("count", &NSSet::count);
}

NSSet* NSSet::set() { return static_cast<NSSet*>((new NSSet)->autorelease()); }

NSSet* NSSet::setWithObjects(std::initializer_list<id> objects)
{
    NSSet* s = set();
    for (id object : objects)
        s->insert(object);
    return s;
}

NSSet* NSSet::setWithArray(const NSArray* array)
{
    NSSet* s = set();
    if (array)
        for (id object : *array)
            s->insert(object);
    return s;
}

NSSet* NSSet::setWithSet(const NSSet* other)
{
    NSSet* s = set();
    if (other)
        for (id object : *other)
            s->insert(object);
    return s;
}

size_t NSSet::insert(id object)
{
    if (!object)
        NSException::raise(NSInvalidArgumentException, "-[NSMutableSet addObject:]: object cannot be nil");
    long at = m_index.find(m_members, object);
    if (at >= 0)
        return static_cast<size_t>(at);
    m_members.emplace_back(object);
    m_index.add(object);
    return m_members.size() - 1;
}

void NSSet::erase(const NSObject* object)
{
    long at = m_index.find(m_members, object);
    if (at < 0)
        return;
    m_members.erase(m_members.begin() + at);
    m_index.rebuild(m_members);
}

id NSSet::member(const NSObject* object) const
{
    long at = m_index.find(m_members, object);
    return at >= 0 ? m_members[static_cast<size_t>(at)].get() : nil;
}

NSArray* NSSet::allObjects() const
{
    NSMutableArray* a = NSMutableArray::array();
    for (id object : m_members)
        a->addObject(object);
    return a;
}

NSSet* NSSet::setByAddingObjectsFromSet(const NSSet* other) const
{
    NSSet* s = setWithSet(this);
    if (other)
        for (id object : *other)
            s->insert(object);
    return s;
}

NSString* NSSet::description() const
{
    std::string inner = describeNested(this, 0);
    // Sets print as {(members)}.
    return NSString::stringWithUTF8("{" + inner + "}");
}

BOOL NSSet::isEqual(const NSObject* other) const
{
    if (!other || !other->isKindOfClass(NSSet::class_()))
        return false;
    auto* s = static_cast<const NSSet*>(other);
    if (s->count() != count())
        return false;
    return std::all_of(m_members.begin(), m_members.end(), [&](const Retained<NSObject>& m) { return s->containsObject(m); });
}

NSObject* NSSet::copy() const
{
    if (isMemberOfClass(NSSet::class_()))
        return retain();
    NSSet* s = new NSSet;
    s->m_members = m_members;
    s->m_index = m_index;
    return s;
}

NSObject* NSSet::mutableCopy() const
{
    NSMutableSet* s = new NSMutableSet;
    s->m_members = m_members;
    s->m_index = m_index;
    return s;
}

OBJC_IMPLEMENTATION(NSMutableSet, NSSet) {}

NSMutableSet* NSMutableSet::set() { return static_cast<NSMutableSet*>((new NSMutableSet)->autorelease()); }
void NSMutableSet::addObject(id object) { insert(object); }

void NSMutableSet::addObjectsFromArray(const NSArray* array)
{
    if (array)
        for (id object : *array)
            addObject(object);
}

void NSMutableSet::unionSet(const NSSet* other)
{
    if (other)
        for (id object : *other)
            addObject(object);
}

void NSMutableSet::removeAllObjects()
{
    while (!m_members.empty())
        removeObject(m_members.back());
}

// ---------------------------------------------------------------- NSCountedSet

OBJC_IMPLEMENTATION_TYPEID(NSCountedSet, NSMutableSet, kCFTypeIDBag) {}

NSCountedSet* NSCountedSet::set() { return static_cast<NSCountedSet*>((new NSCountedSet)->autorelease()); }

void NSCountedSet::addObject(id object)
{
    size_t at = insert(object);
    if (at == m_counts.size())
        m_counts.push_back(1);
    else
        ++m_counts[at];
}

void NSCountedSet::removeObject(const NSObject* object)
{
    long at = m_index.find(m_members, object);
    if (at < 0)
        return;
    if (--m_counts[static_cast<size_t>(at)] == 0) {
        m_counts.erase(m_counts.begin() + at);
        erase(object);
    }
}

NSUInteger NSCountedSet::countForObject(const NSObject* object) const
{
    long at = m_index.find(m_members, object);
    return at >= 0 ? m_counts[static_cast<size_t>(at)] : 0;
}

NSString* NSCountedSet::description() const
{
    std::string text = "<NSCountedSet>(";
    for (size_t i = 0; i < m_members.size(); ++i) {
        text += i ? ", " : "";
        text += describeNested(m_members[i], 0) + " [" + std::to_string(m_counts[i]) + "]";
    }
    return NSString::stringWithUTF8(text + ")");
}

NSObject* NSCountedSet::copy() const
{
    NSCountedSet* s = new NSCountedSet;
    s->m_members = m_members;
    s->m_counts = m_counts;
    s->m_index = m_index;
    return s;
}
