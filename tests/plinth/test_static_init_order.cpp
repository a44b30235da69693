// The ranks of CoreStaticInitOrder.h order initialisers across translation
// units and libraries: these probes, in this file, run between the library's
// own process-wide objects and record what was already built.
#include "CoreBaseDLL.h"
#include "CoreStaticInitOrder.h"
#include "CoreUnixPath.h"
#include "T_CFTypeRef.h"

#include <gtest/gtest.h>

namespace {

struct Seen {
    bool ran = false;
    bool systemBound = false;
    bool typeIDsFilled = false;
    bool coreServicesBound = false;
};
// Constant-initialised, so they are in place before any initialiser runs.
constinit Seen sBeforeSystem, sAfterTypeIDs, sAfterUnixPath;
constinit bool sSlashBuiltAfterUnixPath = false;

// Not-yet-built bindings are still zero-filled storage: no name.
Seen Look()
{
    return {true, SystemFramework::sSystem.GetName() != nullptr, T_CFTypeID<CFStringRef>::sTypeID != 0,
            CoreServicesFramework::sCoreServices.GetName() != nullptr};
}

CORE_INIT_FUNCTION(kCoreInitRank_SystemFramework - 50) void BeforeSystem() { sBeforeSystem = Look(); }
CORE_INIT_FUNCTION(kCoreInitRank_CFTypeIDs + 50) void AfterTypeIDs() { sAfterTypeIDs = Look(); }
CORE_INIT_FUNCTION(kCoreInitRank_UnixPathConstants + 50) void AfterUnixPath()
{
    sAfterUnixPath = Look();
    sSlashBuiltAfterUnixPath = CoreUnixPath::s_slash_str_const == "/";
}

TEST(StaticInitialisation, FoundationObjectsAreBuiltInTheirRankOrder)
{
    ASSERT_TRUE(sBeforeSystem.ran && sAfterTypeIDs.ran && sAfterUnixPath.ran);
    EXPECT_FALSE(sBeforeSystem.systemBound);
    EXPECT_FALSE(sBeforeSystem.typeIDsFilled);

    EXPECT_TRUE(sAfterTypeIDs.systemBound);
    EXPECT_TRUE(sAfterTypeIDs.typeIDsFilled);
    EXPECT_FALSE(sAfterTypeIDs.coreServicesBound);

    EXPECT_TRUE(sAfterUnixPath.coreServicesBound);
    EXPECT_TRUE(sSlashBuiltAfterUnixPath);
}

} // namespace
