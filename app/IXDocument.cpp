#include "IXDocument.h"

#include "AppKit/NSNib.h"
#include "AppKit/NSWorkspace.h"
#include "Foundation/NSException.h"
#include "Foundation/NSLog.h"
#include "UApplicationEntitlementsController.h"
#include "UCodeEntitlements.h"
#include "UFileQuarantineController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

NSString* const kTerminalAppName = NSStringLiteral("Terminal.app");

OBJC_IMPLEMENTATION(IXDocument, NSDocument)
{
    cls.property("fileURL", &IXDocument::fileURL);
    cls.property("displayName", &IXDocument::displayName);
    cls.property("appController", &IXDocument::appController, &IXDocument::setAppController);
    cls.property("attributesController", &IXDocument::attributesController, &IXDocument::setAttributesController);
    cls.property("entitlementsController", &IXDocument::entitlementsController, &IXDocument::setEntitlementsController);
    cls.property("removeQuarantinePanel", &IXDocument::removeQuarantinePanel, &IXDocument::setRemoveQuarantinePanel);
    cls.property("terminalAppIconImage", &IXDocument::terminalAppIconImage);
    cls.property("terminalAppRemoveQuarantineCommandString", &IXDocument::terminalAppRemoveQuarantineCommandString);
    cls.property("terminalAppRemoveQuarantineTitle", &IXDocument::terminalAppRemoveQuarantineTitle);
    cls.property("terminalAppFullPath", &IXDocument::terminalAppFullPath);
    cls.property("fileProblemDescription", &IXDocument::fileProblemDescription);
    cls.action("removeFromQuarantineAction", &IXDocument::removeFromQuarantineAction);
    cls.action("terminalAppLaunchAction", &IXDocument::terminalAppLaunchAction);
}

// The classes the document's window description names.
NSNIB_OBJECT_CLASS(UFileQuarantineController)
NSNIB_OBJECT_CLASS(UApplicationEntitlementsController)

IXDocument* IXDocument::init()
{
    NSDocument::init();
    return this;
}

NSURL* IXDocument::fileURL() const
{
    std::lock_guard lock(m_fileURLLock);
    return m_fileURL ? static_cast<NSURL*>(m_fileURL->retain()->autorelease()) : nullptr;
}

void IXDocument::setFileURL(NSURL* url)
{
    Retained<NSURL> old;
    std::lock_guard lock(m_fileURLLock);
    old = std::move(m_fileURL);
    m_fileURL = url;
}

BOOL IXDocument::readFromURL(NSURL* url, NSString* typeName, NSError** outError)
{
    NSLog("readFromURL:%@\n", url);
    NSLog("\tofType:%@\n", typeName);
    setFileURL(url ? url->filePathURL() : nullptr);
    updateAttributesControllerWithURL();
    return YES;
}

NSData* IXDocument::dataOfType(NSString* typeName, NSError** outError)
{
    NSException::raise(NSSTR("UnimplementedMethod"), "%@ is unimplemented", NSSTR("dataOfType:error:"));
}

NSString* IXDocument::displayName() const
{
    NSURL* url = fileURL();
    return url ? url->lastPathComponent() : nullptr;
}

void IXDocument::windowControllerDidLoadNib(NSWindowController* windowController)
{
    NSLog("windowControllerDidLoadNib\n");
    NSDocument::windowControllerDidLoadNib(windowController);
    updateAttributesControllerWithURL();
    if (auto* listener = dynamic_cast<IXDocumentListener*>(m_appController))
        listener->appControllerDidOpenOrCloseDocument(this);
}

void IXDocument::close()
{
    if (m_closed)
        return;
    m_closed = true;
    Retained<IXDocument> keep(this);
    NSDocument::close();
    // The description's objects are gone with the window.
    m_attributesController = nullptr;
    m_entitlementsController = nullptr;
    m_removeQuarantinePanel = nullptr;
    NSLog("IXDocument::close\n");
    if (auto* listener = dynamic_cast<IXDocumentListener*>(m_appController))
        listener->appControllerDidOpenOrCloseDocument(this);
}

void IXDocument::updateAttributesControllerWithURL()
{
    if (!m_attributesController)
        return;
    NSURL* url = fileURL();
    if (!url)
        return;
    try {
        if (m_entitlementsController)
            m_entitlementsController->setCodeBundleURL(url);
        m_attributesController->setFileURL(url);
        // The hashing takes its time on a large binary: the window shows the
        // rest at once and the verdict when it comes.
        if (m_entitlementsController)
            m_entitlementsController->startSignatureVerification();
    } catch (NSException*) {
        // The controllers show what they could read; nothing more to say.
    }
}

NSString* IXDocument::fileProblemDescription() const
{
    NSURL* url = fileURL();
    const char* path = url ? url->fileSystemRepresentation() : nullptr;
    if (!path)
        return nullptr;
    struct stat info {};
    if (::lstat(path, &info) != 0)
        return NSString::stringWithFormat("This file cannot be found: %s.", std::strerror(errno));
    if (S_ISLNK(info.st_mode) && ::stat(path, &info) != 0)
        return NSString::stringWithFormat("This link leads nowhere: %s.", std::strerror(errno));
    // Opened for reading only to learn whether it can be; nothing is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return NSString::stringWithFormat("This file cannot be read: %s. What the file system says about it is shown.",
                                          std::strerror(errno));
    ::close(fd);
    return nullptr;
}

// ---- taking the file out of quarantine

void IXDocument::removeFromQuarantineAction(id sender)
{
    if (UCodeEntitlements::sEntitlements.HasActiveSecuritySandbox()) {
        // The commands follow where the record is kept now.
        willChangeValueForKey("terminalAppRemoveQuarantineCommandString");
        didChangeValueForKey("terminalAppRemoveQuarantineCommandString");
        if (m_removeQuarantinePanel)
            m_removeQuarantinePanel->makeKeyAndOrderFront(sender);
        return;
    }
    if (m_attributesController)
        m_attributesController->setQuarantined(false);
}

void IXDocument::terminalAppLaunchAction(id sender)
{
    NSWorkspace::sharedWorkspace()->launchApplication(kTerminalAppName, YES, YES);
}

NSString* IXDocument::terminalAppFullPath() const { return NSWorkspace::sharedWorkspace()->fullPathForApplication(kTerminalAppName); }

NSString* IXDocument::terminalAppRemoveQuarantineCommandString() const
{
    NSURL* url = fileURL();
    NSURL* pathURL = url ? url->filePathURL() : nullptr;
    const char* path = pathURL ? pathURL->fileSystemRepresentation() : nullptr;
    NSString* own = NSString::stringWithFormat("xattr -d com.apple.quarantine \"%s\"", path ? path : "");
    if (!m_attributesController)
        return own;
    // A record kept elsewhere too (a Samba stream, an AppleDouble companion)
    // needs a command of its own, one a line after the attribute's.
    NSMutableString* commands = NSMutableString::stringWithString(own);
    for (const std::string& command : m_attributesController->quarantineRemovalCommandsElsewhere(path ? path : ""))
        commands->appendUTF8("\n" + command);
    return commands;
}

NSString* IXDocument::terminalAppRemoveQuarantineTitle() const
{
    NSURL* url = fileURL();
    return NSString::stringWithFormat("Remove %@ from Quarantine", url ? url->lastPathComponent() : nullptr);
}

NSImage* IXDocument::terminalAppIconImage() const
{
    NSImage* fallback = NSImage::imageNamed(NSSTR("Sentrel.icns"));
    NSString* terminal = terminalAppFullPath();
    NSImage* icon = terminal ? NSWorkspace::sharedWorkspace()->iconForFile(terminal) : nullptr;
    NSImage* chosen = icon ? icon : fallback;
    if (!chosen)
        return nullptr;
    chosen->setSize(NSMakeSize(72, 72));
    return chosen;
}
