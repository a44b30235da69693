#include "AppController.h"

#include "AppKit/NSNib.h"
#include "CocoaGraphics/PDFSkinView.h"
#include "CocoaGraphics/PDFSkinWindow.h"

OBJC_IMPLEMENTATION(AppController, UNibSingleton)
{
    cls.property("shouldDisplaySplashWindow", &AppController::shouldDisplaySplashWindow);
    cls.property("splashWindow", &AppController::splashWindow, &AppController::setSplashWindow);
}

NSNIB_REGISTER(AppController, Object, (AppController::initialize(), AppController::alloc()->init()))

bool import_AppController() { return true; }

void AppController::initialize()
{
    static const bool once = [] {
        import_PDFSkinView();
        import_PDFSkinWindow();
        NSDocumentController::sharedDocumentController()->setDocumentFactory(
            []() -> NSDocument* { return IXDocument::alloc()->init(); });
        return true;
    }();
    (void)once;
}

bool AppController::shouldDisplaySplashWindow() const { return documentController()->documents()->count() == 0; }

void AppController::appControllerDidOpenOrCloseDocument(NSDocument* document)
{
    willChangeValueForKey("shouldDisplaySplashWindow");
    if (shouldDisplaySplashWindow()) {
        if (__splashWindow)
            __splashWindow->makeKeyAndOrderFront(this);
    } else if (__splashWindow) {
        __splashWindow->orderOut(this);
    }
    didChangeValueForKey("shouldDisplaySplashWindow");
}
