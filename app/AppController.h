// The application's controller and delegate: one per process (a nib
// singleton), it shows the splash window exactly while no document is open.
#pragma once

#include "AppKit/NSApplication.h"
#include "AppKit/NSDocument.h"
#include "IXDocument.h"
#include "UNibSingleton.h"

// The module's anchor: the main window description names the class, no code does.
bool import_AppController();

class AppController : public UNibSingleton, public NSApplicationDelegate, public IXDocumentListener {
    UNIBSINGLETON_CLASS(AppController, UNibSingleton)
public:
    // The class's first use: makes the skinned window and view classes
    // available to the window descriptions, and documents IXDocuments.
    static void initialize();

    BOOL applicationShouldOpenUntitledFile(NSApplication* sender) override { return NO; }
    void applicationDidFinishLaunching(NSObject* notification) override {}

    NSDocumentController* documentController() const { return NSDocumentController::sharedDocumentController(); }
    bool shouldDisplaySplashWindow() const;
    NSWindow* splashWindow() const { return __splashWindow; }
    void setSplashWindow(NSWindow* window) { __splashWindow = window; }   // the outlet; not retained

    void appControllerDidOpenOrCloseDocument(NSDocument* document) override;

private:
    NSWindow* __splashWindow = nullptr;
};
