#include "NSData_SecCertificateRef.h"

#include "Foundation/Foundation.h"

#include <cstring>

const uint8_t kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes[20] = {
    0x61, 0x1E, 0x5B, 0x66, 0x2C, 0x59, 0x3A, 0x08, 0xFF, 0x58, 0xD1, 0x4A, 0xE2, 0x24, 0x52, 0xD1, 0x98, 0xDF, 0x6C, 0x60};
const uint8_t kAppleSoftwareSigning_LEAF_SecCertificateFingerprintBytes[20] = {
    0x22, 0x03, 0x02, 0x9E, 0x85, 0xEF, 0xB1, 0x82, 0x8B, 0x92, 0x8C, 0x3B, 0x65, 0x45, 0xF0, 0x03, 0xCC, 0x0E, 0x51, 0x5C};
const uint8_t kAppleCodeSigningCertificationAuthority_INTERMEDIATE_SecCertificateFingerprintBytes[20] = {
    0xFA, 0xD8, 0x1F, 0x57, 0x1D, 0x72, 0xD2, 0xBA, 0xB0, 0xBA, 0xB2, 0x17, 0xF9, 0x80, 0xDB, 0x88, 0x03, 0x77, 0x4B, 0x85};
const uint8_t kAppleMacOSApplicationSigning_LEAF_SecCertificateFingerprintBytes[20] = {
    0x39, 0x3D, 0x9E, 0x53, 0xBB, 0xD9, 0x77, 0x91, 0x11, 0x24, 0xB8, 0x8D, 0x98, 0x50, 0xFE, 0xF0, 0x00, 0x58, 0x87, 0x68};
const uint8_t kApple_WWDR_INTERMEDIATE_SecCertificateFingerprintBytes[20] = {
    0x09, 0x50, 0xB6, 0xCD, 0x3D, 0x2F, 0x37, 0xEA, 0x24, 0x6A, 0x1A, 0xAA, 0x20, 0xDF, 0xAA, 0xDB, 0xD6, 0xFE, 0x1F, 0x75};
const uint8_t kApple_DEVID_INTERMEDIATE_SecCertificateFingerprintBytes[20] = {
    0x3B, 0x16, 0x6C, 0x3B, 0x7D, 0xC4, 0xB7, 0x51, 0xC9, 0xFE, 0x2A, 0xFA, 0xB9, 0x13, 0x56, 0x41, 0xE3, 0x88, 0xE1, 0x86};

// Our data objects own their bytes, so the 20 bytes are copied once; the
// comparisons below read the constants in place.
NSData* NSData::certificateFingerprintWithFingerprintBytes(const uint8_t* bytes)
{
    return bytes ? dataWithBytes(bytes, 20) : nil;
}

bool NSData::isCertificateFingerprintBytesEqual(const uint8_t* bytes) const
{
    return bytes && length() == 20 && std::memcmp(this->bytes(), bytes, 20) == 0;
}

bool NSData::isCertificateAppleOfficial() const
{
    for (const uint8_t* constant :
         {kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes, kAppleSoftwareSigning_LEAF_SecCertificateFingerprintBytes,
          kAppleCodeSigningCertificationAuthority_INTERMEDIATE_SecCertificateFingerprintBytes,
          kApple_DEVID_INTERMEDIATE_SecCertificateFingerprintBytes, kAppleMacOSApplicationSigning_LEAF_SecCertificateFingerprintBytes,
          kApple_WWDR_INTERMEDIATE_SecCertificateFingerprintBytes})
        if (isCertificateFingerprintBytesEqual(constant))
            return true;
    return false;
}
