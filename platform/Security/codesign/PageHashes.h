// Checking the page hashes of a code directory against the code: the file is
// read in large chunks on several threads at once, each page hashed with the
// directory's hash type and compared with its slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Source.h"

namespace codesign {

// How a long check runs: on how many threads, whether it is to stop early,
// and whom to tell of its progress.
struct WorkControl {
    unsigned threads = 0;                         // 0: one per core
    const std::atomic<bool>* cancelled = nullptr;  // checked between chunks
    // Bytes just hashed; called from the hashing threads, so it must be
    // thread-safe.
    std::function<void(std::uint64_t bytes)> advanced;
};

struct PageLayout {
    std::uint64_t base = 0;       // where the image starts in the source
    std::uint64_t available = 0;  // bytes of the image in the source
    std::uint64_t codeLimit = 0;  // bytes the pages cover, from the image's start
    std::uint32_t pageSize = 0;   // 0: the code is one page
    std::uint8_t hashType = 0;
    std::uint8_t hashSize = 0;
    std::span<const std::uint8_t> hashes;  // nCodeSlots * hashSize, slot 0 first
};

struct PageCheck {
    std::uint64_t pageCount = 0;                 // slots the directory has
    std::vector<std::uint64_t> differing;        // page numbers (0-based), in order
    std::vector<std::uint64_t> missing;          // pages past the end of the file
    std::string layoutProblem;                   // the slot count does not fit the code limit, ...
    bool cancelled = false;
};

// The number of pages a code limit needs: ceil(limit / pageSize), or 1 for a
// single-page directory with code.
std::uint64_t expectedPageCount(std::uint64_t codeLimit, std::uint32_t pageSize);

PageCheck checkPages(const Source& source, const PageLayout& layout, const WorkControl& control);

}  // namespace codesign
