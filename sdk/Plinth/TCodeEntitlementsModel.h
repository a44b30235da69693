// What the two entitlement models share. UApplicationEntitlements (other
// code, by URL) and UCodeEntitlements (the running program) stay separate
// plain classes, each with its own fields; this template fills those fields
// and answers every query from them, once for both. A model provides
// mSignedInfoDictionary, mSignedRequirements, mSignedEntitlements,
// mSignedBundleID, mSignedBinary, mNoSandbox, mNoEntitlements and a static
// IsSystemLionWithSandboxOrLater().
#pragma once

#include "UCodeEntitlements.h"

template <class Model>
struct TCodeEntitlementsModel {
    // Reads the signing and requirement information of the code into the
    // model, and answers the signing identifier (borrowed from the model's
    // signing information) and the entitlements blob (borrowed), or null.
    static CFStringRef Read(Model& m, SecStaticCodeRef code, CFDataRef& out_blob)
    {
        CFStringRef identifier = CodeEntitlementsReading::SigningIdentifier(code, &m.mSignedInfoDictionary);
        out_blob = CodeEntitlementsReading::EntitlementsBlob(code, &m.mSignedRequirements);
        return identifier;
    }

    // Releases, each only when set: identifier, entitlements, signing
    // information, requirement information.
    static void Release(Model& m)
    {
        ReleaseField(m.mSignedBundleID);
        ReleaseField(m.mSignedEntitlements);
        ReleaseField(m.mSignedInfoDictionary);
        ReleaseField(m.mSignedRequirements);
    }
    template <class Ref>
    static void ReleaseField(Ref& field)
    {
        if (field)
            CFRelease(field);
        field = nullptr;
    }

    static void SetSignedBundleID(Model& m, CFStringRef identifier)
    {
        if (identifier)
            CFRetain(identifier);
        if (m.mSignedBundleID)
            CFRelease(m.mSignedBundleID);
        m.mSignedBundleID = identifier;
        m.mSignedBinary = m.mSignedBundleID != nullptr;
    }

    // Adopts the dictionary and sets both flags from it.
    static void SetCodeSignedEntitlementsCopy(Model& m, CFDictionaryRef entitlements)
    {
        if (m.mSignedEntitlements && m.mSignedEntitlements != entitlements)
            CFRelease(m.mSignedEntitlements);
        m.mSignedEntitlements = entitlements;
        m.mNoSandbox = !Model::IsSystemLionWithSandboxOrLater() ||
                       !HasEntitlementAndBooleanValueIsTrue(m, kAppleSecurityAppSandboxEntitlementKey);
        m.mNoEntitlements = m.mSignedEntitlements == nullptr;
    }

    static CFStringRef CopySignedBundleID(const Model& m)
    {
        return m.mSignedBundleID ? static_cast<CFStringRef>(CFRetain(m.mSignedBundleID)) : nullptr;
    }
    static CFTypeRef CopyEntitlementKeyValue(const Model& m, CFStringRef key)
    {
        return CodeEntitlementsReading::CopyEntitlementKeyValue(m.mSignedEntitlements, key);
    }
    static bool HasEntitlementAndBooleanValueIsTrue(const Model& m, CFStringRef key)
    {
        return CodeEntitlementsReading::HasEntitlementAndBooleanValueIsTrue(m.mSignedEntitlements, key);
    }
    static bool IsBinaryCodeSignedWithEntitlements(const Model& m) { return m.mSignedBinary && !m.mNoEntitlements; }
    static bool HasAccessToAllEntitlements(const Model& m) { return m.mNoSandbox || m.mNoEntitlements; }
    static bool HasActiveSecuritySandbox(const Model& m) { return !m.mNoSandbox && !m.mNoEntitlements; }
    // Code without an active sandbox may do everything; sandboxed code only
    // what a boolean true allows.
    static bool HasAccessTo(const Model& m, CFStringRef key)
    {
        return HasAccessToAllEntitlements(m) || HasEntitlementAndBooleanValueIsTrue(m, key);
    }
};
