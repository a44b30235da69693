// NSObject(MultipleKVO): change notices for a whole set of keys, in the set's
// own order, so each will-change notice is matched by its did-change notice.
#include "Foundation/Foundation.h"

bool import_category_NSObject_MultipleKVO() { return true; }

void NSObject::willChangeValueForMultipleKeys(NSSet* keys)
{
    if (!keys)
        return;
    for (id key : *keys->allObjects())
        willChangeValueForKey(static_cast<NSString*>(key));
}

void NSObject::didChangeValueForMultipleKeys(NSSet* keys)
{
    if (!keys)
        return;
    for (id key : *keys->allObjects())
        didChangeValueForKey(static_cast<NSString*>(key));
}
