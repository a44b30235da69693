#include "UNibSingleton.h"

#include "CoreStaticInitOrder.h"
#include "Foundation/NSArray.h"
#include "Foundation/NSValue.h"

namespace {

NSMutableDictionary* makeRegistry()
{
    // Never destroyed: the instances live until the process ends.
    auto* registry = static_cast<NSMutableDictionary*>(NSMutableDictionary::dictionary()->retain());
    return registry;
}

// class name -> the shared instance; class name -> whether its first
// initialisation has begun.
const CoreConstant<NSMutableDictionary*> sSingletonObjects CORE_INIT_ORDER(kCoreInitRank_NibSingletonRegistries){
    makeRegistry()};
const CoreConstant<NSMutableDictionary*> sSingletonsInitialized CORE_INIT_ORDER(kCoreInitRank_NibSingletonRegistries){
    makeRegistry()};

} // namespace

OBJC_IMPLEMENTATION(UNibSingleton, NSObject) {}

bool import_UNibSingleton() { return true; }

UNibSingleton* UNibSingleton::allocWithZone(Class cls, NSZone* zone, UNibSingleton* (*make)())
{
    if (UNibSingleton* instance = sharedInstance(cls))
        return instance;
    ObjcSynchronized lock(cls);
    UNibSingleton* made = make();
    setSharedInstance(cls, made);
    // Another thread may have registered one first; the registered object is
    // what init answers, so the extra one is not kept.
    if (sharedInstance(cls) != made) {
        made->NSObject::release();
        return sharedInstance(cls);
    }
    return made;
}

UNibSingleton* UNibSingleton::sharedInstance(Class cls)
{
    if (!sSingletonObjects.value)
        return nil;
    ObjcSynchronized lock(cls);
    return static_cast<UNibSingleton*>(sSingletonObjects->objectForKey(instanceKey(cls)));
}

void UNibSingleton::setSharedInstance(Class cls, UNibSingleton* instance)
{
    if (!sSingletonObjects.value || !sSingletonsInitialized.value || !instance)
        return;
    ObjcSynchronized lock(cls);
    NSString* key = instanceKey(cls);
    if (sSingletonObjects->objectForKey(key))
        return;
    instance->makeImmortal();
    sSingletonObjects->setObject(instance, key);
    sSingletonsInitialized->setObject(NSNumber::numberWithBool(false), key);
}

BOOL UNibSingleton::sharedInstanceWasInitialized(Class cls)
{
    if (!sSingletonsInitialized.value)
        return NO;
    ObjcSynchronized lock(cls);
    auto* flag = static_cast<NSNumber*>(sSingletonsInitialized->objectForKey(instanceKey(cls)));
    return flag && flag->boolValue();
}

void UNibSingleton::setSharedInstanceWasInitialized(Class cls, BOOL flag)
{
    if (!sSingletonsInitialized.value)
        return;
    ObjcSynchronized lock(cls);
    sSingletonsInitialized->setObject(NSNumber::numberWithBool(flag), instanceKey(cls));
}

UNibSingleton* UNibSingleton::init()
{
    Class cls = isa();
    ObjcSynchronized lock(cls);
    UNibSingleton* result = sharedInstance(cls);
    if (!result)
        return nil;
    if (!sharedInstanceWasInitialized(cls)) {
        // The flag goes up first, so an init sent again from inside
        // initOnceInstance runs only initEveryInstance.
        setSharedInstanceWasInitialized(cls, YES);
        result->NSObject::init();
        result->initOnceInstance();
    }
    result->initEveryInstance();
    return result;
}
