#include "codesign/PageHashes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace codesign {

namespace {

// Pages read at once by one thread; large enough that reads cost little,
// small enough that progress and cancellation stay prompt.
constexpr std::uint64_t kChunkBytes = 4u << 20;

struct MdDeleter {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

const char* digestName(std::uint8_t hashType) {
    switch (hashType) {
        case 1: return "SHA1";
        case 2:
        case 3: return "SHA256";
        case 4: return "SHA384";
        default: return nullptr;
    }
}

struct Range {
    std::uint64_t first = 0, end = 0;  // pages [first, end)
};

struct Findings {
    std::vector<std::uint64_t> differing, missing;
    bool cancelled = false;
};

void checkRange(const Source& source, const PageLayout& layout, std::uint64_t pageSize, Range range,
                const WorkControl& control, Findings& findings) {
    std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, digestName(layout.hashType), nullptr));
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!md || !ctx) {
        for (std::uint64_t page = range.first; page < range.end; ++page) findings.differing.push_back(page);
        return;
    }
    const std::uint64_t limit = std::min(layout.codeLimit, layout.available);
    const std::uint64_t pagesPerChunk = std::max<std::uint64_t>(1, kChunkBytes / pageSize);
    unsigned char digest[EVP_MAX_MD_SIZE];
    // One buffer for the whole range: a fresh one per chunk would cost a
    // page fault per 4 KiB, about as much as hashing it.
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::uint64_t>(pagesPerChunk * pageSize, limit + 1)));
    for (std::uint64_t page = range.first; page < range.end;) {
        if (control.cancelled && control.cancelled->load(std::memory_order_relaxed)) {
            findings.cancelled = true;
            return;
        }
        const std::uint64_t chunkEnd = std::min(range.end, page + pagesPerChunk);
        const std::uint64_t start = page * pageSize;
        const std::uint64_t stop = std::min(limit, chunkEnd * pageSize);
        std::span<const std::uint8_t> bytes;
        if (stop > start) {
            const std::span<std::uint8_t> into(buffer.data(), std::size_t(stop - start));
            if (!source.readInto(layout.base + start, into)) bytes = into;
        }
        for (; page < chunkEnd; ++page) {
            const std::uint64_t pageStart = page * pageSize;
            const std::uint64_t pageEnd = std::min(layout.codeLimit, pageStart + pageSize);
            if (pageEnd > limit || pageEnd - start > bytes.size()) {
                findings.missing.push_back(page);
                continue;
            }
            unsigned int length = 0;
            const bool hashed = EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) == 1 &&
                                EVP_DigestUpdate(ctx.get(), bytes.data() + (pageStart - start), pageEnd - pageStart) == 1 &&
                                EVP_DigestFinal_ex(ctx.get(), digest, &length) == 1;
            if (!hashed || length < layout.hashSize ||
                std::memcmp(digest, layout.hashes.data() + page * layout.hashSize, layout.hashSize) != 0) {
                findings.differing.push_back(page);
            }
        }
        if (control.advanced && stop > start) control.advanced(stop - start);
    }
}

}  // namespace

std::uint64_t expectedPageCount(std::uint64_t codeLimit, std::uint32_t pageSize) {
    if (pageSize == 0) return codeLimit == 0 ? 0 : 1;
    return codeLimit / pageSize + (codeLimit % pageSize != 0 ? 1 : 0);
}

PageCheck checkPages(const Source& source, const PageLayout& layout, const WorkControl& control) {
    PageCheck check;
    if (layout.hashSize == 0) return check;
    check.pageCount = layout.hashes.size() / layout.hashSize;
    const std::uint64_t expected = expectedPageCount(layout.codeLimit, layout.pageSize);
    if (check.pageCount != expected) {
        check.layoutProblem = std::to_string(check.pageCount) + " page hashes for a code limit of " +
                              std::to_string(layout.codeLimit) + " bytes (expected " + std::to_string(expected) + ")";
        return check;
    }
    if (!digestName(layout.hashType) || check.pageCount == 0) return check;
    const std::uint64_t pageSize = layout.pageSize == 0 ? layout.codeLimit : layout.pageSize;

    unsigned threads = control.threads ? control.threads : std::max(1u, std::thread::hardware_concurrency());
    // Small code is not worth a thread.
    threads = unsigned(std::min<std::uint64_t>(threads, std::max<std::uint64_t>(1, layout.codeLimit / kChunkBytes)));
    std::vector<Findings> findings(threads);
    std::vector<Range> ranges(threads);
    const std::uint64_t share = check.pageCount / threads, extra = check.pageCount % threads;
    std::uint64_t next = 0;
    for (unsigned t = 0; t < threads; ++t) {
        ranges[t] = {next, next + share + (t < extra ? 1 : 0)};
        next = ranges[t].end;
    }
    if (threads == 1) {
        checkRange(source, layout, pageSize, ranges[0], control, findings[0]);
    } else {
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back(checkRange, std::cref(source), std::cref(layout), pageSize, ranges[t],
                                 std::cref(control), std::ref(findings[t]));
        for (std::thread& worker : workers) worker.join();
    }
    for (Findings& part : findings) {
        check.differing.insert(check.differing.end(), part.differing.begin(), part.differing.end());
        check.missing.insert(check.missing.end(), part.missing.begin(), part.missing.end());
        check.cancelled = check.cancelled || part.cancelled;
    }
    return check;
}

}  // namespace codesign
