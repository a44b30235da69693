// The status-code table behind GetMacOSStatusErrorString and
// GetMacOSStatusCommentString. Self-contained (no object model, no other
// library) because it is also the whole executable of CoreServices.framework.
#include "CoreServices/StatusStrings.h"

#include <algorithm>
#include <iterator>

namespace {

struct StatusString {
    OSStatus status;
    const char* name;
    const char* comment;
};

// Sorted by status, ascending, for the binary search below.
constexpr StatusString kStatusStrings[] = {
    // Security framework: certificates, trust and the keychain.
    {-67901, "errSecCertificateValidityPeriodTooLong", "The validity period in the certificate exceeds the maximum allowed."},
    {-67900, "errSecCertificateNameNotAllowed", "The requested name is not allowed for this certificate."},
    {-67899, "errSecCertificatePolicyNotAllowed", "The requested policy is not allowed for this certificate."},
    {-67894, "errSecSigningTimeMissing", "A signing time was expected but was not found."},
    {-67884, "errSecTimestampNotTrusted", "The timestamp was not trusted."},
    {-67883, "errSecTimestampInvalid", "The timestamp was not valid."},
    {-67882, "errSecTimestampMissing", "A timestamp was expected but was not found."},
    {-67881, "errSecExtendedKeyUsageNotCritical", "The extended key usage extension was not marked critical."},
    {-67880, "errSecMissingRequiredExtension", "A required certificate extension is missing."},
    {-67843, "errSecNotTrusted", "The certificate was not trusted."},
    {-67826, "errSecInvalidCertAuthority", "The certificate authority was not valid."},
    {-67825, "errSecVerifyActionFailed", "A verify action has failed."},
    {-67821, "errSecCertificateSuspended", "The certificate was suspended."},
    {-67820, "errSecCertificateRevoked", "The certificate was revoked."},
    {-67819, "errSecCertificateNotValidYet", "The certificate is not yet valid."},
    {-67818, "errSecCertificateExpired", "An expired certificate was detected."},
    {-67817, "errSecCertificateCannotOperate", "The certificate cannot operate."},
    {-67808, "errSecVerifyFailed", "A cryptographic verification failure has occurred."},
    {-67694, "errSecInvalidValue", "An invalid value was detected."},
    {-67690, "errSecInvalidCertificateRef", "An invalid certificate reference was encountered."},
    {-67688, "errSecInvalidSignature", "An invalid signature was encountered."},
    {-67686, "errSecVerificationFailure", "A verification failure occurred."},
    {-67673, "errSecInvalidData", "Invalid data was encountered."},
    {-67671, "errSecInternalError", "An internal error has occurred."},
    {-67655, "errSecInvalidSubjectName", "An invalid certificate subject name was encountered."},
    {-67654, "errSecTrustSettingDeny", "The trust setting for this policy was set to Deny."},
    {-67651, "errSecCodeSigningDevelopment", "Code signing indicated use of a development-only certificate."},
    {-67650, "errSecCodeSigningNoExtendedKeyUsage", "Code signing found no extended key usage."},
    {-67649, "errSecCodeSigningBadPathLengthConstraint", "Code signing encountered an incorrect path length constraint."},
    {-67648, "errSecCodeSigningNoBasicConstraints", "Code signing found no basic constraints."},
    {-67647, "errSecCodeSigningBadCertChainLength", "Code signing encountered an incorrect certificate chain length."},
    {-67635, "errSecIncompleteCertRevocationCheck", "An incomplete certificate revocation check occurred."},
    {-67612, "errSecInvalidRoot", "The root or anchor certificate is not valid."},
    {-67611, "errSecPathLengthConstraintExceeded", "The path length constraint was exceeded."},
    {-67609, "errSecInvalidExtendedKeyUsage", "The extended key usage is not valid."},
    {-67608, "errSecInvalidKeyUsageForPolicy", "The key usage is not valid for the specified policy."},
    {-67605, "errSecNoBasicConstraintsCA", "No basic CA constraints were found."},
    {-67604, "errSecNoBasicConstraints", "No basic constraints were found."},
    {-67603, "errSecUnknownCriticalExtensionFlag", "There is an unknown critical extension flag."},

    // Code signing.
    {-67072, "errSecCSUnimplemented", "unimplemented code signing feature"},
    {-67071, "errSecCSInvalidObjectRef", "invalid API object reference"},
    {-67070, "errSecCSInvalidFlags", "invalid or inappropriate API flag(s) specified"},
    {-67069, "errSecCSObjectRequired", "a required pointer argument was NULL"},
    {-67068, "errSecCSStaticCodeNotFound", "cannot find code object on disk"},
    {-67067, "errSecCSUnsupportedGuestAttributes", "cannot locate guests using this attribute set"},
    {-67066, "errSecCSInvalidAttributeValues", "given attribute values are invalid"},
    {-67065, "errSecCSNoSuchCode", "host has no guest with the requested attributes"},
    {-67064, "errSecCSMultipleGuests", "ambiguous guest specification (host has multiple guests with these attribute values)"},
    {-67063, "errSecCSGuestInvalid", "code identity has been invalidated"},
    {-67062, "errSecCSUnsigned", "code object is not signed at all"},
    {-67061, "errSecCSSignatureFailed", "invalid signature (code or signature have been modified)"},
    {-67060, "errSecCSSignatureNotVerifiable", "the code cannot be read by the verifier (file system permissions etc.)"},
    {-67059, "errSecCSSignatureUnsupported", "unsupported type or version of signature"},
    {-67058, "errSecCSBadDictionaryFormat", "a required plist file or resource is malformed"},
    {-67057, "errSecCSResourcesNotSealed", "resources are present but not sealed by signature"},
    {-67056, "errSecCSResourcesNotFound", "code has no resources but signature indicates they must be present"},
    {-67055, "errSecCSResourcesInvalid", "the sealed resource directory is invalid"},
    {-67054, "errSecCSBadResource", "a sealed resource is missing or invalid"},
    {-67053, "errSecCSResourceRulesInvalid", "invalid resource specification rule(s)"},
    {-67052, "errSecCSReqInvalid", "invalid or corrupted code requirement(s)"},
    {-67051, "errSecCSReqUnsupported", "unsupported type or version of code requirement(s)"},
    {-67050, "errSecCSReqFailed", "code failed to satisfy specified code requirement(s)"},
    {-67049, "errSecCSBadObjectFormat", "object file format unrecognized, invalid, or unsuitable"},
    {-67048, "errSecCSInternalError", "internal error in Code Signing subsystem"},
    {-67047, "errSecCSHostReject", "code rejected its host"},
    {-67046, "errSecCSNotAHost", "attempt to specify guest of code that is not a host"},
    {-67045, "errSecCSSignatureInvalid", "invalid or unsupported format for signature"},
    {-67037, "errSecCSNotSupported", "operation inapplicable or not supported for this type of code"},
    {-67036, "errSecCSCMSTooLarge", "signature too large to embed (size limitation of on-disk representation)"},
    {-67034, "errSecCSStaticCodeChanged", "the code on disk does not match what is running"},
    {-67033, "errSecCSDBDenied", "permission to use a database denied"},
    {-67032, "errSecCSDBAccess", "cannot access a database"},
    {-67030, "errSecCSInfoPlistFailed", "invalid Info.plist (plist or signature have been modified)"},
    {-67029, "errSecCSNoMainExecutable", "the code has no main executable file"},
    {-67028, "errSecCSBadBundleFormat", "bundle format unrecognized, invalid, or unsuitable"},
    {-67027, "errSecCSNoMatches", "no matches for search or update operation"},
    {-67026, "errSecCSFileHardQuarantined", "File created by an AppSandbox, exec/open not allowed"},
    {-67025, "errSecCSOutdated", "presented data is out of date"},
    {-67024, "errSecCSDbCorrupt", "a system database or file is corrupt"},
    {-67023, "errSecCSResourceDirectoryFailed", "invalid resource directory (directory or signature have been modified)"},
    {-67022, "errSecCSUnsignedNestedCode", "nested code is unsigned"},
    {-67021, "errSecCSBadNestedCode", "nested code is modified or invalid"},
    {-67020, "errSecCSBadCallbackValue", "monitor callback returned invalid value"},
    {-67019, "errSecCSHelperFailed", "the codesign_allocate helper tool cannot be found or used"},
    {-67018, "errSecCSVetoed", ""},
    {-67017, "errSecCSBadLVArch", "library validation flag cannot be used with an i386 binary"},
    {-67016, "errSecCSResourceNotSupported", "unsupported resource found (something not a directory, file or symlink)"},
    {-67015, "errSecCSRegularFile", "the main executable or Info.plist must be a regular file (no symlinks, etc.)"},
    {-67014, "errSecCSUnsealedAppRoot", "unsealed contents present in the bundle root"},
    {-67013, "errSecCSWeakResourceRules", "resource envelope is obsolete (custom omit rules)"},
    {-67012, "errSecCSDSStoreSymlink", ".DS_Store files cannot be a symlink"},
    {-67011, "errSecCSAmbiguousBundleFormat", "bundle format is ambiguous (could be app or framework)"},
    {-67010, "errSecCSBadMainExecutable", "main executable failed strict validation"},
    {-67009, "errSecCSBadFrameworkVersion", "embedded framework contains modified or invalid version"},
    {-67008, "errSecCSUnsealedFrameworkRoot", "unsealed contents present in the root directory of an embedded framework"},
    {-67007, "errSecCSWeakResourceEnvelope", "resource envelope is obsolete (version 1 signature)"},
    {-67006, "errSecCSCancelled", "operation was terminated by explicit cancellation"},
    {-67005, "errSecCSInvalidPlatform", "invalid platform identifier or platform mismatch"},
    {-67004, "errSecCSTooBig", "code is too big for current signing format"},
    {-67003, "errSecCSInvalidSymlink", "invalid destination for symbolic link in bundle"},
    {-67002, "errSecCSNotAppLike", "the code is valid but does not seem to be an app"},
    {-67001, "errSecCSBadDiskImageFormat", "disk image format unrecognized, invalid, or unsuitable"},
    {-67000, "errSecCSUnsupportedDigestAlgorithm", "signature digest algorithm(s) specified are not supported"},
    {-66999, "errSecCSInvalidAssociatedFileData", "resource fork, Finder information, or similar detritus not allowed"},
    {-66998, "errSecCSInvalidTeamIdentifier", "a Team Identifier string is invalid"},
    {-66997, "errSecCSBadTeamIdentifier", "a Team Identifier is wrong or inappropriate"},

    // Security framework: decoding, keychain and trust settings.
    {-26275, "errSecDecode", "Unable to decode the provided data."},
    {-26267, "errSecNotSigner", "A certificate was not signed by its proposed parent."},
    {-25318, "errSecCreateChainFailed", "One or more certificates required to validate this certificate cannot be found."},
    {-25308, "errSecInteractionNotAllowed", "User interaction is not allowed."},
    {-25307, "errSecNoDefaultKeychain", "A default keychain could not be found."},
    {-25303, "errSecNoSuchAttr", "The specified attribute does not exist."},
    {-25300, "errSecItemNotFound", "The specified item could not be found in the keychain."},
    {-25299, "errSecDuplicateItem", "The specified item already exists in the keychain."},
    {-25294, "errSecNoSuchKeychain", "The specified keychain could not be found."},
    {-25293, "errSecAuthFailed", "The user name or passphrase you entered is not correct."},
    {-25291, "errSecNotAvailable", "No keychain is available. You may need to restart your computer."},
    {-25263, "errSecNoTrustSettings", "No Trust Settings were found."},
    {-25262, "errSecInvalidTrustSettings", "The Trust Settings Record was corrupted."},
    {-25257, "errSecUnknownFormat", "Unknown format in import."},
    {-25256, "errSecUnsupportedFormat", "Import/Export format unsupported."},
    {-25245, "errSecTrustNotAvailable", "No trust results are available."},
    {-25242, "errSecInvalidTrustSetting", "The specified trust setting is invalid."},
    {-25241, "errSecPolicyNotFound", "The specified policy cannot be found."},

    // Gestalt.
    {-5553, "gestaltLocationErr", "gestalt function ptr wasn't in sysheap"},
    {-5552, "gestaltDupSelectorErr", "tried to add an entry that already existed"},
    {-5551, "gestaltUndefSelectorErr", "undefined selector was passed to Gestalt"},
    {-5550, "gestaltUnknownErr", "value returned if Gestalt doesn't know the answer"},
    {-5000, "afpAccessDenied", "Insufficient access privileges for operation"},

    // File Manager.
    {-2110, "pathTooLongErr", "Path is too long for the buffer given"},
    {-1407, "errFSNotAFolder", "Expected a folder, got a file"},
    {-1401, "errFSBadFSRef", "FSRef parameter is bad"},
    {-128, "userCanceledErr", "The user canceled the operation"},
    {-120, "dirNFErr", "Directory not found"},
    {-109, "nilHandleErr", "Master Pointer was NIL in HandleZone or other"},
    {-108, "memFullErr", "Not enough room in heap zone"},
    {-61, "wrPermErr", "write permissions error"},
    {-54, "permErr", "permissions error (on file open)"},
    {-53, "volOffLinErr", "volume not on line error (was Ejected)"},
    {-51, "rfNumErr", "refnum error"},
    {-50, "paramErr", "error in user parameter list"},
    {-49, "opWrErr", "file already open with with write permission"},
    {-48, "dupFNErr", "duplicate filename (rename)"},
    {-47, "fBsyErr", "File is busy (delete)"},
    {-46, "vLckdErr", "volume is locked"},
    {-45, "fLckdErr", "file is locked"},
    {-44, "wPrErr", "diskette is write protected."},
    {-43, "fnfErr", "File not found"},
    {-42, "tmfoErr", "too many files open"},
    {-41, "mFulErr", "memory full (open) or file won't fit (load)"},
    {-40, "posErr", "tried to position to before start of file (r/w)"},
    {-39, "eofErr", "End of file"},
    {-38, "fnOpnErr", "File not open"},
    {-37, "bdNamErr", "there may be no bad names in the final system!"},
    {-36, "ioErr", "I/O error (bummers)"},
    {-35, "nsvErr", "no such volume"},
    {-34, "dskFulErr", "disk full"},
    {-33, "dirFulErr", "Directory full"},
    {-4, "unimpErr", "unimplemented core routine"},
    {0, "noErr", "No error"},
};

static_assert(std::is_sorted(std::begin(kStatusStrings), std::end(kStatusStrings),
                             [](const StatusString& a, const StatusString& b) { return a.status < b.status; }),
              "the status table must stay sorted");

const StatusString* find(OSStatus err)
{
    auto it = std::lower_bound(std::begin(kStatusStrings), std::end(kStatusStrings), err,
                               [](const StatusString& entry, OSStatus value) { return entry.status < value; });
    return it != std::end(kStatusStrings) && it->status == err ? it : nullptr;
}

} // namespace

extern "C" const char* GetMacOSStatusErrorString(OSStatus err)
{
    const StatusString* entry = find(err);
    return entry ? entry->name : "";
}

extern "C" const char* GetMacOSStatusCommentString(OSStatus err)
{
    const StatusString* entry = find(err);
    return entry ? entry->comment : "";
}
