#include "codesign/Source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codesign/ByteReader.h"

namespace codesign {

namespace {

Error outOfRange(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return {errSecCSBadObjectFormat, "read of " + std::to_string(length) + " bytes at offset " +
                                         std::to_string(offset) + " extends past the end of the file (" +
                                         std::to_string(size) + " bytes)"};
}

}  // namespace

Expected<std::vector<std::uint8_t>> Source::read(std::uint64_t offset, std::uint64_t length) const {
    if (!rangeFits(offset, length, size())) return outOfRange(offset, length, size());
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    if (auto error = fill(offset, out)) return std::move(*error);
    return out;
}

std::optional<Error> Source::readInto(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!rangeFits(offset, out.size(), size())) return outOfRange(offset, out.size(), size());
    return fill(offset, out);
}

std::optional<Error> MemorySource::fill(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (out.empty()) return std::nullopt;  // an empty span may hold no pointer at all
    std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return std::nullopt;
}

Expected<std::unique_ptr<FileSource>> FileSource::open(const std::string& path) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer; it is
    // refused below like anything else that is not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        const Status status = (err == ENOENT || err == ENOTDIR) ? errSecCSStaticCodeNotFound
                                                                : errSecCSSignatureNotVerifiable;
        return Error{status, "cannot open " + path + ": " + std::strerror(err)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Error{errSecCSSignatureNotVerifiable, "cannot stat " + path + ": " + std::strerror(err)};
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error{errSecCSBadObjectFormat, path + " is not a regular file"};
    }
    return std::unique_ptr<FileSource>(new FileSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

FileSource::~FileSource() { ::close(fd_); }

std::optional<Error> FileSource::fill(std::uint64_t offset, std::span<std::uint8_t> out) const {
    const std::uint64_t length = out.size();
    std::uint64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd_, out.data() + done, static_cast<std::size_t>(length - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error{errSecCSSignatureNotVerifiable,
                         "read at offset " + std::to_string(offset + done) + " failed: " + std::strerror(errno)};
        }
        if (n == 0) {
            return Error{errSecCSSignatureNotVerifiable,
                         "the file became shorter while it was read (offset " + std::to_string(offset + done) + ")"};
        }
        done += static_cast<std::uint64_t>(n);
    }
    return std::nullopt;
}

}  // namespace codesign
