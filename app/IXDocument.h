// The document of one inspected file. It reads nothing of the file: its window
// description's controllers ask the file system and the code-signing services,
// and the window shows what they say. It never saves. Its one action takes
// the file out of quarantine.
#pragma once

#include "AppKit/NSDocument.h"
#include "AppKit/NSImage.h"

#include <mutex>

class UApplicationEntitlementsController;
class UFileQuarantineController;

// Told when a document's window has loaded and when the document has closed.
class IXDocumentListener {
public:
    virtual ~IXDocumentListener() = default;
    virtual void appControllerDidOpenOrCloseDocument(NSDocument* document) = 0;
};

extern NSString* const kTerminalAppName;   // "Terminal.app"

class IXDocument : public NSDocument {
    OBJC_CLASS(IXDocument, NSDocument)
public:
    IXDocument* init();

    static BOOL autosavesInPlace() { return NO; }
    NSString* windowNibName() const override { return NSSTR("IXDocument"); }
    BOOL hasUnautosavedChanges() const override { return NO; }
    BOOL readFromFileWrapper(NSObject* fileWrapper, NSString* typeName, NSError** outError) { return NO; }
    BOOL readFromData(NSData* data, NSString* typeName, NSError** outError) override { return NO; }
    BOOL readFromURL(NSURL* url, NSString* typeName, NSError** outError) override;
    // Saving is not supported: raises "UnimplementedMethod".
    [[noreturn]] NSData* dataOfType(NSString* typeName, NSError** outError) override;
    NSString* displayName() const override;
    void windowControllerDidLoadNib(NSWindowController* windowController) override;
    void close() override;
    void updateAttributesControllerWithURL();
    // Why the file cannot be inspected (it is gone, or cannot be opened for
    // reading), asked of the file system each time; nil when it can.
    NSString* fileProblemDescription() const;

    // Atomic: a reader gets the old URL or the new one, whole.
    NSURL* fileURL() const override;
    void setFileURL(NSURL* url) override;

    // The links the window description makes; none is retained.
    NSObject* appController() const { return m_appController; }
    void setAppController(NSObject* listener) { m_appController = listener; }
    UFileQuarantineController* attributesController() const { return m_attributesController; }
    void setAttributesController(UFileQuarantineController* controller) { m_attributesController = controller; }
    UApplicationEntitlementsController* entitlementsController() const { return m_entitlementsController; }
    void setEntitlementsController(UApplicationEntitlementsController* controller) { m_entitlementsController = controller; }
    NSWindow* removeQuarantinePanel() const { return m_removeQuarantinePanel; }
    void setRemoveQuarantinePanel(NSWindow* panel) { m_removeQuarantinePanel = panel; }

    // Taking the file out of quarantine: at once when this program runs
    // without a sandbox, else the panel with the Terminal command.
    void removeFromQuarantineAction(id sender);
    void terminalAppLaunchAction(id sender);
    NSString* terminalAppFullPath() const;
    NSString* terminalAppRemoveQuarantineCommandString() const;
    NSString* terminalAppRemoveQuarantineTitle() const;
    NSImage* terminalAppIconImage() const;

private:
    NSObject* m_appController = nullptr;
    UFileQuarantineController* m_attributesController = nullptr;
    UApplicationEntitlementsController* m_entitlementsController = nullptr;
    mutable std::mutex m_fileURLLock;
    Retained<NSURL> m_fileURL;
    NSWindow* m_removeQuarantinePanel = nullptr;
    bool m_closed = false;
};
