// The model behind the file half of a document window: one file URL, and
// everything the window shows about that file, read from the file system at
// the moment it is asked for. Nothing is cached.
//
// Every derived key depends on the two stored keys "privateURL" and
// "fileURLUpdated" (kUFileAttributesKeyPaths). Bumping the change counter
// fileURLUpdated (fileMarkAttributesAsDirty) is how observers learn that the
// file changed and that every bound value must be read again: setting the URL
// bumps it, and so does every successful removal of an extended attribute.
//
// The extended-attribute operations pass options 0, so a symbolic link at the
// path is followed.
#pragma once

#include "AppKit/NSImage.h"
#include "CoreStaticInitOrder.h"
#include "Foundation/Foundation.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include <sys/types.h>

// {"privateURL", "fileURLUpdated"}: the keys every derived key depends on.
// Built once during static initialisation; lives for the whole process.
extern const CoreConstant<NSSet*> kUFileAttributesKeyPaths;

// The key of the file-attribute dictionary's entry with the item's extended
// attributes (name -> bytes).
#define kNSFileExtendedAttributes NSFileExtendedAttributes

// The delegate protocol declares no operations, and the controller never
// calls its delegate: any object can be connected there.
using UFileAttributesControllerDelegate = NSObject;

class UFileAttributesController : public NSObject {
    OBJC_CLASS(UFileAttributesController, NSObject)
public:
    UFileAttributesController() = default;
    // Sets privateURL to nil, then fileURLUpdated to 0, through their setters.
    UFileAttributesController* init();

    // The file. Reading answers privateURL; writing stores privateURL and then
    // bumps the counter, even when the URL is the one already stored.
    NSURL* fileURL() const;
    void setFileURL(NSURL* url);
    // fileURLUpdated + 1, through the setter (wraps modulo 2^32).
    void fileMarkAttributesAsDirty();

    // nil without a URL (or when the path is not UTF-8); else the URL's path.
    virtual NSString* filePath() const;
    // nil without a URL; else the path's bytes as the file system keeps them,
    // valid until the current autorelease pool drains.
    virtual const char* filePathName() const;
    // A bundle's "CFBundleName", or else the path's last component.
    virtual NSString* fileDescription() const;
    // The file's icon at 72 x 72 points, nil when it has none; without a URL,
    // the application's icon "Sentrel.icns" at its stored size.
    virtual NSImage* fileIconImage() const;

    // The file-system attributes; empty without a URL, nil when the query
    // fails (the file is gone, say).
    virtual NSDictionary* attributesDictionary() const;
    virtual NSArray* attributesList() const;
    virtual NSString* attributesListString() const;

    // The names of the file's metadata attributes; never nil.
    virtual NSArray* metadataAttributesList() const;
    virtual NSString* metadataAttributesListString() const;

    // The extended attributes from the file-attribute dictionary; never nil.
    virtual NSDictionary* extendedAttributesDictionary() const;
    virtual NSArray* extendedAttributesList() const;
    virtual NSString* extendedAttributesListString() const;
    // The raw name list from listxattr (at most 8192 bytes); nil when there is
    // no URL or the list cannot be read, empty for a file without any.
    virtual NSData* extendedAttributesListData() const;
    // name -> value built from that list; never nil. A name that is not UTF-8
    // is left out, and so is a name whose value is empty or cannot be read.
    virtual NSDictionary* extendedAttributesDictionaryFromData() const;

    // The value's size in bytes; -1 when it cannot be had.
    virtual ssize_t sizeofExtendedAttributeForKeyName(const NSString* name) const;
    // True when the attribute exists with at least one byte.
    virtual bool hasExtendedAttributeForKeyName(const NSString* name) const;
    // The value; nil when it is missing, empty or unreadable.
    virtual NSData* extendedAttributeForKeyName(const NSString* name) const;
    // Removes the attribute; on success bumps the counter and answers true.
    virtual bool removeExtendedAttributeForKeyName(const NSString* name);

    NSURL* privateURL() const;
    void setPrivateURL(NSURL* url);
    uint32_t fileURLUpdated() const { return m_fileURLUpdated.load(); }
    void setFileURLUpdated(uint32_t value);
    UFileAttributesControllerDelegate* delegate() const { return m_delegate.load(); }
    void setDelegate(UFileAttributesControllerDelegate* delegate);

    // The key dependency table.
    static NSSet* keyPathsForValuesAffectingAllAttributes();
    static NSSet* keyPathsForValuesAffectingFilePath();
    static NSSet* keyPathsForValuesAffectingFileIconImage();
    static NSSet* keyPathsForValuesAffectingFileDescription();
    static NSSet* keyPathsForValuesAffectingAttributesDictionary();
    static NSSet* keyPathsForValuesAffectingExtendedAttributesListData();
    static NSSet* keyPathsForValuesAffectingExtendedAttributesList();
    static NSSet* keyPathsForValuesAffectingMetadataAttributesList();
    static NSSet* keyPathsForValuesAffectingMetadataAttributesListString();
    static NSSet* keyPathsForValuesAffectingExtendedAttributesListString();
    static NSSet* keyPathsForValuesAffectingAttributesListString();
    static NSSet* keyPathsForValuesAffectingAttributesList();

private:
    // An atomic, retaining reference: a reader gets the old or the new object
    // whole, retained and autoreleased.
    class AtomicURL {
    public:
        AtomicURL& operator=(NSURL* url);
        NSURL* load() const;

    private:
        mutable std::mutex m_lock;
        Retained<NSURL> m_url;
    };

    AtomicURL m_privateURL;
    std::atomic<uint32_t> m_fileURLUpdated{0};
    std::atomic<UFileAttributesControllerDelegate*> m_delegate{nullptr};
};
