// libFuzzer target: the property-list reader behind Info.plist, the
// entitlements and kMDItemWhereFroms (XML and binary). What reads is
// written out again in binary and XML form and read back.
#include "Foundation/Foundation.h"
#include "Foundation/NSPropertyList.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AutoreleasePoolScope pool;
    NSData* bytes = NSData::dataWithBytes(data, size);
    NSPropertyListFormat format{};
    id plist = NSPropertyListSerialization::propertyListWithData(bytes, NSPropertyListImmutable, &format, nullptr);
    if (!plist)
        return 0;
    for (NSPropertyListFormat out : {NSPropertyListBinaryFormat_v1_0, NSPropertyListXMLFormat_v1_0})
        if (NSData* written = NSPropertyListSerialization::dataWithPropertyList(plist, out, nullptr))
            (void)NSPropertyListSerialization::propertyListWithData(written, NSPropertyListImmutable, nullptr, nullptr);
    return 0;
}
