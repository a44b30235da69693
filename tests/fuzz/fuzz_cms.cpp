// libFuzzer target: the CMS and certificate glue. Each input is read twice:
// as the CMS SignedData of a signature (the certificates taken out and put in
// chain order), and as one DER certificate. Every certificate that comes out
// is made a SecCertificate and asked for what the report shows: its data,
// common name and subject summary.
#include "Security.h"
#include "codesign/Cms.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

void inspect(const uint8_t* der, size_t size, bool mustDecode)
{
    CFDataRef data = CFDataCreate(nullptr, der, static_cast<CFIndex>(size));
    SecCertificateRef certificate = SecCertificateCreateWithData(nullptr, data);
    CFRelease(data);
    if (!certificate) {
        // The CMS reader hands out only certificates that decode.
        if (mustDecode)
            std::abort();
        return;
    }
    // The certificate's data is the bytes it was made from.
    CFDataRef copy = SecCertificateCopyData(certificate);
    if (!copy || static_cast<size_t>(CFDataGetLength(copy)) != size || std::memcmp(CFDataGetBytePtr(copy), der, size) != 0)
        std::abort();
    CFRelease(copy);
    CFStringRef name = nullptr;
    if (SecCertificateCopyCommonName(certificate, &name) == errSecSuccess && name)
        CFRelease(name);
    if (CFStringRef summary = SecCertificateCopySubjectSummary(certificate))
        CFRelease(summary);
    CFRelease(certificate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AutoreleasePoolScope pool;
    auto chain = codesign::certificatesFromCms(std::span<const uint8_t>(data, size));
    if (chain) {
        if (chain->size() > codesign::kMaxCmsCertificates)
            std::abort();
        for (const codesign::Certificate& certificate : *chain)
            inspect(certificate.data(), certificate.size(), true);
    }
    inspect(data, size, false);
    return 0;
}
