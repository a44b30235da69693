#include "CoreSystem.h"

#include "CoreBaseDLL.h"
#include "CoreMachDebugLog.h"
#include "CoreServices/Gestalt.h"

CoreSystemName CoreSystem::GetVersion()
{
    static CoreSystemName cachedGestaltVersion = 0;
    if (0 == cachedGestaltVersion)
        VERIFY_OSERR(Gestalt(gestaltSystemVersion, &cachedGestaltVersion));
    return cachedGestaltVersion;
}

bool CoreSystem::SystemFrameworkHasFunction(CFStringRef in_frameworkName, CFStringRef in_functionName)
{
    T_CFBaseDLL<I_CFBundleDLL> framework(in_frameworkName);
    if (!framework.LoadSystemFramework(nullptr))
        return false;
    return CFBundleGetFunctionPointerForName(framework.GetBundle(), in_functionName) != nullptr;
}
