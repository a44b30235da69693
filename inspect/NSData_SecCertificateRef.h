// The fingerprints of the Apple certificates the inspector recognises: the
// SHA-1 digests of their DER encodings.
#pragma once

#include <cstdint>

extern const uint8_t kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes[20];
extern const uint8_t kAppleSoftwareSigning_LEAF_SecCertificateFingerprintBytes[20];
extern const uint8_t kAppleCodeSigningCertificationAuthority_INTERMEDIATE_SecCertificateFingerprintBytes[20];
extern const uint8_t kAppleMacOSApplicationSigning_LEAF_SecCertificateFingerprintBytes[20];
extern const uint8_t kApple_WWDR_INTERMEDIATE_SecCertificateFingerprintBytes[20];
extern const uint8_t kApple_DEVID_INTERMEDIATE_SecCertificateFingerprintBytes[20];
