// Window descriptions: XML resources ("<name>.xml" in the program's
// resources) that, when loaded, make the objects, windows, views and menus
// they name, connect them to the owner's outlets (without retaining), wire
// controls to actions and bind controls to key paths. docs/WINDOW-DESCRIPTIONS.md
// describes the format.
//
// Loading makes each object by its class name -- allocation, initialisation
// (init, or initWithContentRect / initWithFrame for windows and views) --
// then, once all are made and connected, sends each awakeFromNib, and last
// shows the windows marked visible. A description that names a class, a
// property, an outlet or an action that does not exist is refused as a
// whole, with the line of the fault.
#pragma once

#include "Foundation/NSArray.h"
#include "Foundation/NSString.h"

#include <functional>
#include <string>

class NSNib : public NSObject {
    OBJC_CLASS(NSNib, NSObject)
public:
    // Loads the description `name` for `owner`. The objects it made are put
    // in `topLevelObjects` (retained there). On failure nothing is kept, false
    // comes back and `error` says why.
    static bool loadNibNamed(NSString* name, NSObject* owner, NSMutableArray* topLevelObjects, std::string* error);
    static bool loadNibFile(const std::string& path, NSObject* owner, NSMutableArray* topLevelObjects,
                            std::string* error);
};

// Releases what a load made, unbinding its controls first (bindings do not
// retain what they observe).
void NSNibReleaseObjects(NSMutableArray* topLevelObjects);

// The classes a description may name, registered by the modules that define
// them (a module linked into the program registers its classes).
enum class NSNibClassKind { Object, Window, View };
using NSNibFactory = NSObject* (*)();   // Object: allocated and initialised; Window, View: allocated
void NSNibRegisterClass(const char* name, NSNibClassKind kind, NSNibFactory factory);
// Objects that descriptions reach by a fixed name ("application",
// "documentController"), made or found when a description asks for them.
void NSNibRegisterNamedObject(const char* name, NSObject* (*find)());

#define NSNIB_REGISTER(Name, Kind, Make)                                                            \
    namespace {                                                                                     \
    [[maybe_unused]] const bool Name##_nibRegistered =                                              \
        (NSNibRegisterClass(#Name, NSNibClassKind::Kind, []() -> NSObject* { return Make; }), true); \
    }
#define NSNIB_OBJECT_CLASS(Name) NSNIB_REGISTER(Name, Object, Name::alloc()->init())
#define NSNIB_WINDOW_CLASS(Name) NSNIB_REGISTER(Name, Window, Name::alloc())
#define NSNIB_VIEW_CLASS(Name) NSNIB_REGISTER(Name, View, Name::alloc())
