// Arrays, dictionaries, sets and counted sets (bags), with their mutable kinds.
//
// Order: arrays keep their index order; dictionaries, sets and bags enumerate
// in the order their members were first added (a member removed and added again
// goes to the end). That order is stable across runs, which the platform's hash
// order is not, and it is the order every caller that "enumerates a dictionary
// in its own order" sees.
#pragma once

#include "Foundation/NSString.h"

#include <initializer_list>
#include <vector>

class NSArray : public NSObject {
    OBJC_CLASS(NSArray, NSObject)
public:
    NSArray() = default;
    static NSArray* array();
    static NSArray* arrayWithObjects(std::initializer_list<id> objects);
    static NSArray* arrayWithArray(const NSArray* other);
    static NSArray* arrayWithVector(const std::vector<id>& objects);

    NSUInteger count() const { return m_objects.size(); }
    id objectAtIndex(NSUInteger index) const;   // raises NSRangeException past the end
    id firstObject() const { return m_objects.empty() ? nil : m_objects.front().get(); }
    id lastObject() const { return m_objects.empty() ? nil : m_objects.back().get(); }
    BOOL containsObject(const NSObject* object) const { return indexOfObject(object) != NSNotFound; }
    NSUInteger indexOfObject(const NSObject* object) const;
    NSString* componentsJoinedByString(const NSString* separator) const;
    NSArray* sortedArrayUsingSelector_compare() const;   // sortedArrayUsingSelector:@selector(compare:) for strings and numbers

    using const_iterator = std::vector<Retained<NSObject>>::const_iterator;
    const_iterator begin() const { return m_objects.begin(); }
    const_iterator end() const { return m_objects.end(); }

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override { return m_objects.size(); }
    NSObject* copy() const override;
    NSObject* mutableCopy() const override;

protected:
    std::vector<Retained<NSObject>> m_objects;
};

class NSMutableArray : public NSArray {
    OBJC_CLASS(NSMutableArray, NSArray)
public:
    static NSMutableArray* array();
    static NSMutableArray* arrayWithArray(const NSArray* other);
    void addObject(id object);   // raises NSInvalidArgumentException for nil
    void addObjectsFromArray(const NSArray* other);
    void insertObject(id object, NSUInteger index);
    void removeObjectAtIndex(NSUInteger index);
    void removeObject(const NSObject* object);
    void removeAllObjects() { m_objects.clear(); }
};

// Members kept in first-insertion order, found by their hashes. Most
// collections here hold a handful of members, searched straight through
// their hashes; past that an open-addressed table of positions is kept. The
// whole index is two vectors, copied with its collection as it stands.
class OrderedHashIndex {
public:
    // Index of a member equal to `key`, or -1.
    long find(const std::vector<Retained<NSObject>>& keys, const NSObject* key) const;
    // Records the member just appended at the end.
    void add(const NSObject* key);
    void rebuild(const std::vector<Retained<NSObject>>& keys);

private:
    void place(size_t position);
    void makeTable(size_t slots);

    std::vector<NSUInteger> m_hashes; // the hash of the member at each position
    std::vector<size_t> m_slots;      // position + 1, 0 for an empty slot; none while small
};

class NSDictionary : public NSObject {
    OBJC_CLASS(NSDictionary, NSObject)
public:
    NSDictionary() = default;
    static NSDictionary* dictionary();
    static NSDictionary* dictionaryWithObjectsForKeys(std::initializer_list<std::pair<id, id>> objectsAndKeys);
    static NSDictionary* dictionaryWithDictionary(const NSDictionary* other);

    NSUInteger count() const { return m_keys.size(); }
    id objectForKey(const NSObject* key) const;
    id objectForKey(std::string_view key) const;
    NSArray* allKeys() const;
    NSArray* allValues() const;

    // Enumerates keys, as `for (id key in dictionary)` does.
    using const_iterator = std::vector<Retained<NSObject>>::const_iterator;
    const_iterator begin() const { return m_keys.begin(); }
    const_iterator end() const { return m_keys.end(); }
    id keyAtIndex(NSUInteger index) const { return m_keys.at(index); }
    id valueAtIndex(NSUInteger index) const { return m_values.at(index); }

    // The property-list-like text: "{\n    key = value;\n}".
    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override { return m_keys.size(); }
    NSObject* copy() const override;
    NSObject* mutableCopy() const override;

protected:
    void store(id object, const NSObject* key);   // keys are copied, values retained
    std::vector<Retained<NSObject>> m_keys;
    std::vector<Retained<NSObject>> m_values;
    OrderedHashIndex m_index;
};

class NSMutableDictionary : public NSDictionary {
    OBJC_CLASS(NSMutableDictionary, NSDictionary)
public:
    static NSMutableDictionary* dictionary();
    static NSMutableDictionary* dictionaryWithDictionary(const NSDictionary* other);
    void setObject(id object, const NSObject* key);   // raises NSInvalidArgumentException for nil; the key is copied
    void removeObjectForKey(const NSObject* key);
    void removeAllObjects();
};

class NSSet : public NSObject {
    OBJC_CLASS(NSSet, NSObject)
public:
    NSSet() = default;
    static NSSet* set();
    static NSSet* setWithObjects(std::initializer_list<id> objects);
    static NSSet* setWithArray(const NSArray* array);
    static NSSet* setWithSet(const NSSet* other);

    NSUInteger count() const { return m_members.size(); }
    BOOL containsObject(const NSObject* object) const { return member(object) != nil; }
    id member(const NSObject* object) const;
    id anyObject() const { return m_members.empty() ? nil : m_members.front().get(); }
    NSArray* allObjects() const;
    NSSet* setByAddingObjectsFromSet(const NSSet* other) const;

    using const_iterator = std::vector<Retained<NSObject>>::const_iterator;
    const_iterator begin() const { return m_members.begin(); }
    const_iterator end() const { return m_members.end(); }

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override { return m_members.size(); }
    NSObject* copy() const override;
    NSObject* mutableCopy() const override;

protected:
    // Adds a member; answers its position (new or existing).
    size_t insert(id object);
    void erase(const NSObject* object);
    std::vector<Retained<NSObject>> m_members;
    OrderedHashIndex m_index;
};

class NSMutableSet : public NSSet {
    OBJC_CLASS(NSMutableSet, NSSet)
public:
    static NSMutableSet* set();
    virtual void addObject(id object);
    void addObjectsFromArray(const NSArray* array);
    void unionSet(const NSSet* other);
    virtual void removeObject(const NSObject* object) { erase(object); }
    void removeAllObjects();
};

// A set that counts how often each member was added (CFBag).
class NSCountedSet : public NSMutableSet {
    OBJC_CLASS(NSCountedSet, NSMutableSet)
public:
    static NSCountedSet* set();
    void addObject(id object) override;
    void removeObject(const NSObject* object) override;
    NSUInteger countForObject(const NSObject* object) const;
    NSString* description() const override;
    NSObject* copy() const override;

private:
    std::vector<NSUInteger> m_counts;
};
