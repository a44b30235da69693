#include "CoreProgramStart.h"

#include "CoreMachDebugLog.h"
#include "CoreStaticInitOrder.h"
#include "objc/NSObject.h"

NSAutoreleasePool* s_cplusplus_static_pool = nullptr;

// Declared nowhere else: a prior declaration without the attribute would
// lose the rank.
CORE_INIT_FUNCTION(kCoreInitRank_AppInit) void AppInitFunc()
{
    CoreMachDebugLogSetUseLogger(kCoreLogOutput_ASL);
    s_cplusplus_static_pool = NSAutoreleasePool::alloc()->init();
}
