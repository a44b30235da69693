// Property lists: XML and binary, through libplist. The XML form is checked
// for well-formedness first (libxml2), because libplist alone accepts a
// document cut short or followed by junk; a property list that does not parse
// gives nil and an error text.
#pragma once

#include "Foundation/NSValue.h"

class NSError;

typedef NSUInteger NSPropertyListFormat;
enum : NSPropertyListFormat {
    NSPropertyListOpenStepFormat = 1,
    NSPropertyListXMLFormat_v1_0 = 100,
    NSPropertyListBinaryFormat_v1_0 = 200,
};
typedef NSUInteger NSPropertyListMutabilityOptions;
enum : NSPropertyListMutabilityOptions {
    NSPropertyListImmutable = 0,
    NSPropertyListMutableContainers = 1,
    NSPropertyListMutableContainersAndLeaves = 2,
};

class NSPropertyListSerialization : public NSObject {
    OBJC_CLASS(NSPropertyListSerialization, NSObject)
public:
    // An autoreleased property list, or nil with *error set.
    static id propertyListWithData(const NSData* data, NSPropertyListMutabilityOptions options,
                                   NSPropertyListFormat* format, NSError** error);
    // The XML or binary form of a property list, or nil for a value that is
    // not one.
    static NSData* dataWithPropertyList(id plist, NSPropertyListFormat format, NSError** error);
};
