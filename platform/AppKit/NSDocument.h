// The document framework: one document per opened file, its window made from
// the document's window description by a window controller, and the shared
// document controller that opens files, keeps the list of open documents and
// the recently opened ones, and offers the Open dialog.
#pragma once

#include "AppKit/NSWindow.h"
#include "Foundation/NSArray.h"
#include "Foundation/NSError.h"
#include "Foundation/NSURL.h"

class NSDocument;
class NSWindowController;

class NSDocument : public NSObject {
    OBJC_CLASS(NSDocument, NSObject)
public:
    NSDocument* init() { return this; }

    virtual NSURL* fileURL() const { return m_fileURL; }
    virtual void setFileURL(NSURL* url) { m_fileURL = url; }
    // The file's name; "Untitled" without a file.
    virtual NSString* displayName() const;
    // The name of the document's window description; nil for none.
    virtual NSString* windowNibName() const { return nil; }
    static BOOL autosavesInPlace() { return NO; }
    virtual BOOL hasUnautosavedChanges() const { return NO; }

    virtual BOOL readFromURL(NSURL* url, NSString* typeName, NSError** outError);
    virtual BOOL readFromData(NSData* data, NSString* typeName, NSError** outError) { return NO; }
    virtual NSData* dataOfType(NSString* typeName, NSError** outError) { return nil; }

    // Makes the window controller, which loads the window description with
    // the document as its owner, then calls windowControllerDidLoadNib.
    virtual void makeWindowControllers();
    virtual void windowControllerDidLoadNib(NSWindowController* windowController) {}
    const std::vector<Retained<NSWindowController>>& windowControllers() const { return m_windowControllers; }
    void showWindows();
    // Closes the windows and leaves the document controller's list.
    virtual void close();

    // The window outlet a document's window description connects.
    NSWindow* window() const { return m_window; }
    void setWindow(NSWindow* window) { m_window = window; }   // not retained

protected:
    ~NSDocument() override;

private:
    Retained<NSURL> m_fileURL;
    NSWindow* m_window = nullptr;
    std::vector<Retained<NSWindowController>> m_windowControllers;
    bool m_closing = false;
};

class NSWindowController : public NSObject, public NSWindowDelegate {
    OBJC_CLASS(NSWindowController, NSObject)
public:
    // Loads `nibName` with the document as owner; the description's objects
    // live as long as the controller. nil (and the reason logged) when the
    // description does not load.
    static NSWindowController* controllerForDocument(NSDocument* document, NSString* nibName);
    NSWindow* window() const;
    NSDocument* document() const { return m_document; }
    // Unbinds and lets go of the description's objects; hides the window.
    void close();
    void windowWillClose(NSWindow* window) override;

protected:
    ~NSWindowController() override;

private:
    NSDocument* m_document = nullptr;   // not retained: the document owns its controllers
    Retained<NSMutableArray> m_objects;
    bool m_closed = false;
};

class NSDocumentController : public NSObject {
    OBJC_CLASS(NSDocumentController, NSObject)
public:
    static NSDocumentController* sharedDocumentController();

    // What documents are made of: the application's document class.
    using DocumentFactory = NSDocument* (*)();
    void setDocumentFactory(DocumentFactory factory) { m_factory = factory; }

    NSArray* documents() const;
    // The open document of the file at `url` (same file, however named).
    NSDocument* documentForURL(NSURL* url) const;
    // Opens the file: a document of it, read, its window made and shown;
    // a file that is open already brings its window to the front. nil when
    // no document could be made.
    NSDocument* openDocumentWithContentsOfURL(NSURL* url, BOOL display, NSError** outError);
    // The type name of a file: an application bundle, a Mach-O binary or data.
    NSString* typeForContentsOfURL(NSURL* url, NSError** outError) const;
    void addDocument(NSDocument* document);
    void removeDocument(NSDocument* document);

    // The Open dialog (files and application bundles), and its actions.
    void openDocument(id sender);
    NSArray* recentDocumentURLs() const;
    void noteNewRecentDocumentURL(NSURL* url);
    void clearRecentDocuments(id sender);

private:
    NSDocumentController();
    Retained<NSMutableArray> m_documents;
    DocumentFactory m_factory = nullptr;
};

// The application's main: makes the application, loads the main window
// description ("MainMenu") with the application as owner, opens the files
// named on the command line, and runs the event loop. Answers the exit status.
int NSApplicationMain(int argc, char** argv);
