#include "codesign/Verify.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codesign/Architecture.h"
#include "codesign/Bundle.h"
#include "codesign/ByteReader.h"
#include "codesign/CodeDirectory.h"
#include "codesign/Fat.h"
#include "codesign/MachO.h"
#include "codesign/ResourceSeal.h"
#include "codesign/StaticCode.h"
#include "codesign/SuperBlob.h"

namespace codesign {

namespace {

constexpr std::size_t kPagesNamed = 8;       // pages named one by one; the rest are counted
constexpr int kMaxNesting = 8;               // nested code inside nested code, at most
constexpr std::uint64_t kMaxSealSize = 64u << 20;
constexpr char kTicketMagic[] = "s8ch";      // a stapled notarization ticket starts with it

std::string hexOf(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool allZero(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        if (b != 0) return false;
    return true;
}

std::optional<std::vector<std::uint8_t>> readSmallFile(const std::string& path, std::uint64_t cap) {
    auto source = FileSource::open(path);
    if (!source || (*source)->size() > cap) return std::nullopt;
    auto bytes = (*source)->read(0, (*source)->size());
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

// Page hashing waits until every slice is read, so that its total is known.
struct PageJob {
    PageLayout layout;
    std::string prefix;                    // "arm64: " or "arm64: SHA-1 directory: "
    std::vector<std::uint8_t> hashes;      // owned copy of the code slots
};

struct Subject {
    const VerifyOptions& options;
    const TrustPolicy& policy;
    std::optional<BundleLayout> bundle;
    std::optional<std::vector<std::uint8_t>> infoPlist;
    std::optional<std::vector<std::uint8_t>> codeResources;
    int depth = 0;
};

struct SliceResult {
    SignatureKind kind = SignatureKind::None;
    SignatureTrust trust;
    std::vector<std::vector<std::uint8_t>> cdhashes;  // every directory's, best first
    std::vector<std::string> problems;
};

void checkSpecialSlots(std::span<const std::uint8_t> directoryBlob, const CodeDirectory& cd,
                       const EmbeddedSignature& signature, const Subject& subject, const std::string& prefix,
                       std::vector<std::string>& problems) {
    struct Covered {
        std::uint32_t slot;
        const char* name;
        std::optional<std::span<const std::uint8_t>> bytes;
    };
    auto blob = [&](std::uint32_t slot) -> std::optional<std::span<const std::uint8_t>> {
        if (const Blob* found = signature.find(slot)) return found->bytes;
        return std::nullopt;
    };
    auto file = [](const std::optional<std::vector<std::uint8_t>>& bytes) -> std::optional<std::span<const std::uint8_t>> {
        if (bytes) return std::span<const std::uint8_t>(*bytes);
        return std::nullopt;
    };
    const Covered covered[] = {
        {CSSLOT_INFOSLOT, "Info.plist", file(subject.infoPlist)},
        {CSSLOT_REQUIREMENTS, "requirements", blob(CSSLOT_REQUIREMENTS)},
        {CSSLOT_RESOURCEDIR, "resource seal (_CodeSignature/CodeResources)", file(subject.codeResources)},
        {CSSLOT_ENTITLEMENTS, "entitlements", blob(CSSLOT_ENTITLEMENTS)},
        {CSSLOT_DER_ENTITLEMENTS, "DER entitlements", blob(CSSLOT_DER_ENTITLEMENTS)},
    };
    for (const Covered& item : covered) {
        std::span<const std::uint8_t> hash;
        if (item.slot <= cd.nSpecialSlots)
            hash = directoryBlob.subspan(cd.hashOffset - std::size_t(item.slot) * cd.hashSize, cd.hashSize);
        const bool filled = !hash.empty() && !allZero(hash);
        if (!item.bytes) {
            // A bare Mach-O file's Info.plist is a section of its code,
            // covered by the page hashes; only a bundle has one apart.
            if (filled && !(item.slot == CSSLOT_INFOSLOT && !subject.bundle))
                problems.push_back(prefix + item.name + " missing (the code directory has its hash)");
            continue;
        }
        if (!filled) {
            problems.push_back(prefix + item.name + " not covered by the code directory");
            continue;
        }
        const std::vector<std::uint8_t> actual = digest(cd.hashType, *item.bytes);
        if (actual.size() < hash.size() || !std::equal(hash.begin(), hash.end(), actual.begin()))
            problems.push_back(prefix + item.name + " modified (its hash differs)");
    }
}

SliceResult checkSlice(const Source& source, std::uint64_t base, std::uint64_t size, const std::string& label,
                       const Subject& subject, std::vector<PageJob>& jobs) {
    SliceResult result;
    const std::string prefix = label + ": ";
    auto image = readMachO(source, base, size);
    if (!image) {
        result.problems.push_back(prefix + image.error().message);
        return result;
    }
    if (!image->codeSignature) {
        result.problems.push_back(prefix + "not signed");
        return result;
    }
    auto region = source.read(base + image->codeSignature->dataoff, image->codeSignature->datasize);
    if (!region) {
        result.problems.push_back(prefix + region.error().message);
        return result;
    }
    auto signature = parseEmbeddedSignature(*region);
    if (!signature) {
        result.problems.push_back(prefix + signature.error().message);
        return result;
    }
    const Blob* primary = signature->find(CSSLOT_CODEDIRECTORY);
    if (!primary) {
        result.problems.push_back(prefix + "the signature has no code directory");
        return result;
    }

    std::vector<const Blob*> blobs{primary};
    for (std::uint32_t i = 0; i < CSSLOT_ALTERNATE_CODEDIRECTORY_MAX; ++i)
        if (const Blob* alternate = signature->find(CSSLOT_ALTERNATE_CODEDIRECTORIES + i)) blobs.push_back(alternate);

    std::vector<DirectoryDigest> digests;
    int bestPriority = -1;
    for (const Blob* blob : blobs) {
        auto cd = parseCodeDirectory(blob->bytes);
        if (!cd) {
            result.problems.push_back(prefix + slotName(blob->slot) + ": " + cd.error().message);
            continue;
        }
        const std::string where = blobs.size() > 1 ? prefix + hashTypeName(cd->hashType) + " directory: " : prefix;
        digests.push_back({cd->hashType, digest(cd->hashType, blob->bytes)});
        if (!cd->hashTypeSupported()) {
            result.problems.push_back(where + "hash type " + hashTypeName(cd->hashType) + " cannot be checked");
            continue;
        }
        if (hashTypePriority(cd->hashType) > bestPriority) {
            bestPriority = hashTypePriority(cd->hashType);
            result.cdhashes.insert(result.cdhashes.begin(), cd->cdhash);
        } else {
            result.cdhashes.push_back(cd->cdhash);
        }
        checkSpecialSlots(blob->bytes, *cd, *signature, subject, where, result.problems);

        PageJob job;
        job.prefix = where;
        job.hashes.assign(blob->bytes.begin() + cd->hashOffset,
                          blob->bytes.begin() + cd->hashOffset + std::size_t(cd->nCodeSlots) * cd->hashSize);
        job.layout.base = base;
        job.layout.available = size;
        job.layout.codeLimit = cd->codeLimit64.value_or(cd->codeLimit);
        job.layout.pageSize = cd->pageSize();
        job.layout.hashType = cd->hashType;
        job.layout.hashSize = cd->hashSize;
        jobs.push_back(std::move(job));
    }

    const Blob* cms = signature->find(CSSLOT_SIGNATURESLOT);
    if (!cms || cms->payload().empty()) {
        result.kind = SignatureKind::AdHoc;
        result.problems.push_back(prefix + "signed ad hoc: no certificate says who signed it");
        return result;
    }
    result.kind = SignatureKind::Certificates;
    result.trust = checkSignature(cms->payload(), primary->bytes, digests, subject.policy);
    for (const std::string& problem : result.trust.problems) result.problems.push_back(prefix + problem);
    return result;
}

void describePages(const PageJob& job, const PageCheck& check, std::vector<std::string>& problems) {
    if (!check.layoutProblem.empty()) {
        problems.push_back(job.prefix + check.layoutProblem);
        return;
    }
    const std::string of = " of " + std::to_string(check.pageCount);
    auto tell = [&](const std::vector<std::uint64_t>& pages, const char* what, const char* rest) {
        for (std::size_t i = 0; i < pages.size() && i < kPagesNamed; ++i)
            problems.push_back(job.prefix + "page " + std::to_string(pages[i] + 1) + of + ": " + what);
        if (pages.size() > kPagesNamed)
            problems.push_back(job.prefix + std::to_string(pages.size() - kPagesNamed) + " more pages " + rest);
    };
    tell(check.differing, "hash differs", "differ");
    tell(check.missing, "missing (the file ends before it)", "missing");
}

struct Collected {
    std::vector<std::vector<std::uint8_t>> cdhashes;
};

Verdict verifyImpl(const std::string& path, const VerifyOptions& options, int depth, Collected* collected) {
    Verdict verdict;
    verdict.signerKind = "unsigned";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        verdict.problems.push_back("cannot read " + path + ": " + std::strerror(errno));
        return verdict;
    }
    Subject subject{options, options.policy ? *options.policy : TrustPolicy::apple(), {}, {}, {}, depth};
    std::string executable = path;
    if (S_ISDIR(st.st_mode)) {
        auto layout = bundleLayout(path);
        if (!layout) {
            verdict.problems.push_back(layout.error().message);
            return verdict;
        }
        subject.bundle = *layout;
        executable = layout->executable;
        subject.infoPlist = readSmallFile(layout->infoPlist, kMaxInfoPlistSize);
        subject.codeResources = readSmallFile(layout->resourceRoot + "_CodeSignature/CodeResources", kMaxSealSize);
        if (auto ticket = readSmallFile(layout->resourceRoot + "CodeResources", kMaxSealSize))
            verdict.hasNotarizationTicket = ticket->size() >= 4 && std::memcmp(ticket->data(), kTicketMagic, 4) == 0;
    }
    auto source = FileSource::open(executable);
    if (!source) {
        verdict.problems.push_back(source.error().message);
        return verdict;
    }
    const Source& file = **source;
    auto magicBytes = file.size() >= 4 ? file.read(0, 4) : Expected<std::vector<std::uint8_t>>(Error{errSecCSBadObjectFormat, "too short"});
    const std::uint32_t magic = magicBytes ? *ByteReader(*magicBytes, Endian::Big).u32(0) : 0;

    struct SliceSpan {
        std::uint64_t offset, size;
        std::uint32_t cpuType;
        std::string label;
    };
    std::vector<SliceSpan> spans;
    if (isFatMagic(magic)) {
        auto fat = readFat(file);
        if (!fat) {
            verdict.problems.push_back(fat.error().message);
            return verdict;
        }
        for (const FatSlice& slice : *fat)
            spans.push_back({slice.offset, slice.size, slice.cpuType, architectureName(slice.cpuType, slice.cpuSubtype)});
    } else if (isMachOMagic(magic)) {
        auto image = readMachO(file, 0, file.size());
        spans.push_back({0, file.size(), image ? image->cpuType : 0,
                         image ? architectureName(image->cpuType, image->cpuSubtype) : "code"});
    } else {
        verdict.problems.push_back(executable + " is not a Mach-O or universal file");
        return verdict;
    }

    std::size_t chosen = 0;
    for (std::size_t i = 0; i < spans.size(); ++i)
        if (hostCpuType() != 0 && spans[i].cpuType == hostCpuType()) {
            chosen = i;
            break;
        }
    std::vector<PageJob> jobs;
    std::vector<SliceResult> results;
    for (const SliceSpan& span : spans) results.push_back(checkSlice(file, span.offset, span.size, span.label, subject, jobs));

    std::uint64_t total = 0;
    for (PageJob& job : jobs) {
        job.layout.hashes = job.hashes;
        total += std::min(job.layout.codeLimit, job.layout.available);
    }
    if (options.started) options.started(total);
    for (const PageJob& job : jobs) {
        const PageCheck check = checkPages(file, job.layout, options.work);
        if (check.cancelled) {
            verdict.cancelled = true;
            verdict.problems.push_back("verification was cancelled");
            return verdict;
        }
        describePages(job, check, verdict.problems);
    }
    for (SliceResult& result : results) {
        verdict.problems.insert(verdict.problems.end(), result.problems.begin(), result.problems.end());
        if (collected) collected->cdhashes.insert(collected->cdhashes.end(), result.cdhashes.begin(), result.cdhashes.end());
    }

    if (subject.bundle && subject.codeResources) {
        SealSubject seal;
        seal.bundleFolder = subject.bundle->folder;
        seal.resourceRoot = subject.bundle->resourceRoot;
        seal.mainExecutable = executable;
        seal.verifyNested = [&](const std::string& nestedPath) {
            NestedCode nested;
            if (depth >= kMaxNesting) {
                nested.problems.push_back("nested too deeply to check");
                return nested;
            }
            VerifyOptions inner;
            inner.policy = options.policy;
            inner.work.threads = options.work.threads;
            inner.work.cancelled = options.work.cancelled;
            Collected found;
            Verdict nestedVerdict = verifyImpl(nestedPath, inner, depth + 1, &found);
            nested.cdhashes = std::move(found.cdhashes);
            nested.problems = std::move(nestedVerdict.problems);
            return nested;
        };
        for (std::string& problem : checkResourceSeal(seal, *subject.codeResources))
            verdict.problems.push_back(std::move(problem));
    }

    const SliceResult& described = results[chosen];
    if (!described.cdhashes.empty()) verdict.cdhash = hexOf(described.cdhashes.front());
    verdict.signingTime = described.trust.signingTime;
    verdict.timestamped = described.trust.timestamped;
    switch (described.kind) {
        case SignatureKind::None: verdict.signerKind = "unsigned"; break;
        case SignatureKind::AdHoc: verdict.signerKind = "ad-hoc"; break;
        case SignatureKind::Certificates:
            verdict.signerKind = described.trust.chainTrusted ? described.trust.signerKind : "untrusted";
            break;
    }
    bool everySliceTrusted = true;
    for (const SliceResult& result : results)
        everySliceTrusted = everySliceTrusted && result.kind == SignatureKind::Certificates && result.trust.chainTrusted;
    verdict.genuine = verdict.problems.empty() && everySliceTrusted;
    return verdict;
}

}  // namespace

Verdict verifyStaticCode(const std::string& path, const VerifyOptions& options) {
    return verifyImpl(path, options, 0, nullptr);
}

}  // namespace codesign
