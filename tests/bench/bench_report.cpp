// What inspection costs: reading a code signature from a small and from a very
// large binary (the cost must follow the signature, not the file), and whole
// reports over a folder of small bundles.
#include "FileControllers.h"
#include "fixtures/Bundle.h"
#include "fixtures/Certificates.h"
#include "fixtures/MachO.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace fixtures;

void quiet(const char*, unsigned, BOOL) {}

struct Files {
    fs::path dir;
    std::vector<fs::path> bundles;
    fs::path small, large;

    Files()
    {
        char pattern[] = "/tmp/sentrel-bench-XXXXXX";
        dir = mkdtemp(pattern);
        auto chain = developerIdChain("Bench Corp", "BENCH12345");
        SigningOptions options;
        options.identifier = "com.example.bench";
        options.team = "BENCH12345";
        options.entitlements = Entitlements{{"com.apple.security.app-sandbox", true}, {"com.apple.security.network.client", true}};
        options.cms = CmsOptions(chain[0], {chain[1], chain[2], chain[0]});
        Bytes image = MachOBuilder().build(options).bytes;
        fs::create_directories(dir / "bundles");
        for (int i = 0; i < 1000; ++i)
            bundles.push_back(makeBundle(dir / "bundles", "App" + std::to_string(i), image, PlistFormat::Binary));
        small = write("small", MachOBuilder().codeSize(1 << 20).build(options).bytes);
        large = write("large", MachOBuilder().codeSize(size_t(512) << 20).build(options).bytes);
    }
    ~Files() { fs::remove_all(dir); }

    fs::path write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir / name;
    }
};

Files& files()
{
    static Files f;
    return f;
}

void readSignature(benchmark::State& state, const fs::path& path)
{
    for (auto _ : state) {
        AutoreleasePoolScope pool;
        SecStaticCodeRef code = nullptr;
        CFURLRef url = NSURL::fileURLWithFileSystemRepresentation(path.c_str(), false);
        if (SecStaticCodeCreateWithPath(url, kSecCSDefaultFlags, &code) != errSecSuccess)
            state.SkipWithError("not readable");
        CFDictionaryRef info = nullptr;
        SecCodeCopySigningInformation(code, kSecCSSigningInformation | kSecCSRequirementInformation, &info);
        benchmark::DoNotOptimize(info);
        CFRelease(info);
        CFRelease(code);
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
}

void BM_ReadSignature_1MB(benchmark::State& state) { readSignature(state, files().small); }
void BM_ReadSignature_512MB(benchmark::State& state) { readSignature(state, files().large); }

void BM_InspectFolderOf1000Bundles(benchmark::State& state)
{
    _NSSetLogCStringFunction(quiet);
    for (auto _ : state)
        for (const fs::path& bundle : files().bundles) {
            AutoreleasePoolScope pool;
            FileReport report = FileControllers(bundle.string(), false).report();
            benchmark::DoNotOptimize(report);
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * files().bundles.size()));
    _NSSetLogCStringFunction(nullptr);
}

void BM_Inspect512MBBinary(benchmark::State& state)
{
    _NSSetLogCStringFunction(quiet);
    for (auto _ : state) {
        AutoreleasePoolScope pool;
        FileReport report = FileControllers(files().large.string(), false).report();
        benchmark::DoNotOptimize(report);
    }
    _NSSetLogCStringFunction(nullptr);
}

BENCHMARK(BM_ReadSignature_1MB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSignature_512MB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InspectFolderOf1000Bundles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inspect512MBBinary)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    NSAutoreleasePool* pool = NSAutoreleasePool::alloc()->init();
    benchmark::Initialize(&argc, argv);
    files();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    pool->drain();
    return 0;
}
