// What verification costs on a large binary: page hashing of a signed 512 MB
// Mach-O file (read from the page cache) on one thread and on every core,
// beside what `openssl speed -evp sha256` says one core can hash.
#include "codesign/Verify.h"
#include "fixtures/Certificates.h"
#include "fixtures/MachO.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

double opensslSha256MBps()
{
    FILE* pipe = popen("openssl speed -evp sha256 -bytes 16384 -seconds 3 2>/dev/null", "r");
    if (!pipe)
        return 0;
    char line[512];
    double kbps = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        // "sha256   123456.78k": thousands of bytes per second for 16 KiB blocks.
        char name[64];
        if (std::sscanf(line, "%63s %lfk", name, &kbps) == 2 && std::string(name) == "sha256")
            break;
        kbps = 0;
    }
    pclose(pipe);
    return kbps * 1000 / 1e6;
}

double verifySeconds(const std::string& path, const codesign::TrustPolicy& policy, unsigned threads, bool& genuine)
{
    codesign::VerifyOptions options;
    options.policy = &policy;
    options.work.threads = threads;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        genuine = codesign::verifyStaticCode(path, options).genuine;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
    const auto chain = fixtures::ownChain(3, fixtures::KeyType::Rsa2048, "Bench Developer");
    codesign::TrustPolicy policy;
    policy.anchors = {chain.back().der()};
    fixtures::SigningOptions options;
    options.cms = fixtures::CmsOptions(chain[0], chain);
    const std::string path = (std::filesystem::temp_directory_path() / "sentrel-bench-verify").string();
    fixtures::writeFile(path, fixtures::MachOBuilder().codeSize(megabytes << 20).build(options).bytes);

    const double mb = double(megabytes << 20) / 1e6;
    bool genuine = false;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const double one = verifySeconds(path, policy, 1, genuine);
    const double all = verifySeconds(path, policy, cores, genuine);
    const double openssl = opensslSha256MBps();
    std::printf("verify %zu MB: one thread %.0f MB/s (%.2f s), %u threads %.0f MB/s (%.2f s), verdict %s\n", megabytes,
                mb / one, one, cores, mb / all, all, genuine ? "genuine" : "NOT GENUINE");
    if (openssl > 0)
        std::printf("openssl speed -evp sha256 (16 KiB blocks, one core): %.0f MB/s; page hashing on %u threads is %.0f%% of it\n",
                    openssl, cores, 100 * (mb / all) / openssl);
    std::filesystem::remove(path);
    return genuine ? 0 : 1;
}
