// Helpers shared by the code-signature tests.
#pragma once

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codesign/StaticCode.h"
#include "fixtures/Bytes.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sentrel-codesign-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::string commonName(const std::vector<std::uint8_t>& der) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) return "<not a certificate>";
    char buffer[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buffer, sizeof buffer);
    X509_free(cert);
    return buffer;
}

inline std::vector<std::string> commonNames(const codesign::SigningInfo& info) {
    std::vector<std::string> names;
    for (const auto& der : info.certificates) names.push_back(commonName(der));
    return names;
}

inline std::string sha1Hex(const std::vector<std::uint8_t>& der) { return fixtures::hex(fixtures::sha1(der), true); }

// The error of a read that must fail; a test failure when it succeeds.
inline codesign::Error errorOf(const codesign::Expected<codesign::SigningInfo>& result) {
    if (result) {
        ADD_FAILURE() << "the read succeeded (identifier \"" << result->identifier << "\")";
        return {};
    }
    return result.error();
}

inline codesign::Error readError(const fixtures::Bytes& bytes) {
    return errorOf(codesign::readStaticCodeFromBytes(bytes));
}

}  // namespace testsupport
