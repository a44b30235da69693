// Where the bytes of a piece of code come from. A reader asks only for the
// ranges it needs (the headers, the load commands, the signature), so the cost
// of reading a file follows the size of its signature, not of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Expected.h"

namespace codesign {

class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly the bytes [offset, offset + length); an error when the range is
    // not inside the source or the read comes up short.
    Expected<std::vector<std::uint8_t>> read(std::uint64_t offset, std::uint64_t length) const;
    // The same into a buffer of the caller's (so that a long scan reuses one);
    // an error, or nothing when all of `out` is filled.
    std::optional<Error> readInto(std::uint64_t offset, std::span<std::uint8_t> out) const;

protected:
    // [offset, offset + out.size()) is known to be inside the source.
    virtual std::optional<Error> fill(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }

protected:
    std::optional<Error> fill(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// A regular file read with pread(2); it is never mapped or read whole.
class FileSource final : public Source {
public:
    static Expected<std::unique_ptr<FileSource>> open(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }

protected:
    std::optional<Error> fill(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    std::uint64_t size_;
};

}  // namespace codesign
