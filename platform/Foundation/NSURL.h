// URLs. The system only meets file URLs and the plain addresses that metadata
// carries; a URL keeps its text form ("file:///tmp/a%20b") and decodes the path
// from it on demand. File URLs are made from file-system representations
// byte for byte, so names that are not UTF-8 survive the round trip.
#pragma once

#include "Foundation/NSString.h"

#include <mutex>
#include <string>

class NSURL : public NSObject {
    OBJC_CLASS(NSURL, NSObject)
public:
    NSURL() = default;
    // A file URL for an absolute path (a relative one is taken against the
    // current directory). A folder's URL ends in "/": when isDirectory is not
    // given, the file system is asked.
    static NSURL* fileURLWithPath(const NSString* path);
    static NSURL* fileURLWithPath(const NSString* path, bool isDirectory);
    static NSURL* fileURLWithFileSystemRepresentation(const char* path, bool isDirectory, const NSURL* relativeTo = nullptr);
    // Any absolute URL with a scheme; nil for text that is not one.
    static NSURL* URLWithString(const NSString* text);

    NSString* absoluteString() const;
    NSString* scheme() const;
    bool isFileURL() const { return m_isFile; }
    // The decoded path without a trailing "/" (except for "/" itself). Bytes
    // that are not UTF-8 are kept as NSString::stringWithFileSystemRepresentation
    // keeps them, so the path leads back to the same file.
    NSString* path() const;
    NSString* lastPathComponent() const;
    NSString* pathExtension() const;
    NSURL* filePathURL() const;   // the receiver for a file URL, nil otherwise
    NSURL* URLByAppendingPathComponent(const NSString* component) const;
    NSURL* URLByDeletingLastPathComponent() const;
    // The decoded path bytes, NUL-terminated, alive as long as the current pool.
    const char* fileSystemRepresentation() const;
    // The same as a C++ string (no pool needed).
    std::string fileSystemPath() const;
    bool hasDirectoryPath() const;

    NSString* description() const override { return absoluteString(); }
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;

private:
    // The path decoded from m_text, which never changes after the factory
    // made the URL; its string form is made on first request.
    std::string decodedPath() const;
    void setText(std::string text);

    std::string m_text;   // percent-encoded, ASCII
    std::string m_path;   // decoded once, when the text is set
    bool m_isFile = false;
    mutable std::once_flag m_pathStringMade;
    mutable Retained<NSString> m_pathString;
};
