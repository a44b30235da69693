// The order in which the program's process-wide objects are built at load.
//
//   rank  what
//   1000  AppInitFunc: the debug log's route, the first autorelease pool
//   1100  kUFileAttributesKeyPaths
//   1200  the entitlements controller's dependent-key set
//   1300  the nib-singleton registries
//   1400  SystemFramework::sSystem ("System.framework")
//   1500  the Core Foundation type identifiers T_CFTypeID<T>::sTypeID
//   1600  CoreServicesFramework::sCoreServices ("CoreServices.framework")
//   1700  CoreUnixPath::s_slash_str_const ("/")
//   1800  UCodeEntitlements::sEntitlements, which reads the program's own signature
//
// The mechanism is the compiler's initialisation priority: an object of
// class type is defined with CORE_INIT_ORDER(rank) (init_priority), and a
// start-up function -- or the function that fills plain values -- is marked
// CORE_INIT_FUNCTION(rank) (constructor(priority)). Both put their entry in
// a ".init_array.<rank>" section, and the linker sorts those sections by
// rank across every object file and static library of the program, so the
// order holds whatever the link order of the translation units. Lower ranks
// run first; exit handlers (the destructors of these objects) run in the
// reverse order.
//
// Everything without a rank -- every other namespace-scope object of the
// program, the object model's included -- is built after all ranked ones. A
// ranked initialiser (and whatever it calls) must therefore not rely on a
// namespace-scope object with a dynamic initialiser; function-local statics
// and constant-initialised objects are safe, and are what the platform
// layers use for their tables.
#pragma once

#define kCoreInitRank_AppInit 1000
#define kCoreInitRank_FileAttributesKeyPaths 1100
#define kCoreInitRank_EntitlementsControllerKeys 1200
#define kCoreInitRank_NibSingletonRegistries 1300
#define kCoreInitRank_SystemFramework 1400
#define kCoreInitRank_CFTypeIDs 1500
#define kCoreInitRank_CoreServicesFramework 1600
#define kCoreInitRank_UnixPathConstants 1700
#define kCoreInitRank_CodeEntitlements 1800

// On an object definition: `T object CORE_INIT_ORDER(rank) (arguments);`
#define CORE_INIT_ORDER(rank) __attribute__((init_priority(rank)))
// On a function: `CORE_INIT_FUNCTION(rank) static void Init();`
#define CORE_INIT_FUNCTION(rank) __attribute__((constructor(rank)))

// A process-wide constant reference made during program load at a chosen
// rank: init_priority only applies to objects of class type, so a pointer is
// wrapped. It converts to the pointer wherever one is expected.
template <class T>
struct CoreConstant {
    T value;
    operator T() const { return value; }
    T operator->() const { return value; }
};
