// The controls of document windows and panels, each a view that shows a Qt
// widget of its own (so the desktop's accessibility tree, selection, copying
// and keyboard work as in any Qt program), and the containers that arrange
// them.
//
// Bindings: a control bound to a key path of an object observes the path's
// first key and, after each did-change notice, reads the whole path again
// through the getters and shows what it finds. A binding does not retain
// the object: whoever releases a window description's objects unbinds its
// controls first (NSNibReleaseObjects).
#pragma once

#include "AppKit/NSImage.h"
#include "AppKit/NSView.h"

#include <string>

class QWidget;

// How a control turns a value into text.
struct NSValueText {
    // nil: an em dash; strings as they are; booleans as `yes`/`no`; dates in
    // the user's locale; data as hexadecimal bytes; arrays one item a line;
    // dictionaries "key = value" lines; URLs as their path; anything else
    // its description.
    static std::string text(id value, const char* yes = "Yes", const char* no = "No");
};

class NSControl : public NSView {
    OBJC_CLASS(NSControl, NSView)
public:
    // Shows `keyPath` ("key" or "key.subkey") of `object` and follows it.
    // False when the object's class has no property of that name.
    bool bind(NSObject* object, const std::string& keyPath);
    // Enables the control exactly while the boolean at `keyPath` is true.
    bool bindEnabled(NSObject* object, const std::string& keyPath);
    void unbind();
    // The key path the control shows, "" when unbound.
    const std::string& boundKeyPath() const { return m_value.keyPath; }

    BOOL isEnabled() const;
    void setEnabled(BOOL enabled);
    // The texts booleans show as ("Signed" / "Not signed"); "Yes" / "No"
    // by default.
    void setBooleanTexts(const std::string& yes, const std::string& no);

    // The target and action sent when the user uses the control.
    void setTarget(NSObject* target) { m_target = target; }   // not retained
    void setAction(const std::string& action) { m_action = action; }
    void sendAction();

    // Shows a value; each control its own way.
    virtual void showValue(id value) {}
    // Reads the bound values again and shows them.
    void refresh();

    void observeValueForKeyPath(NSString* keyPath, id object, NSDictionary* change, void* context) override;

protected:
    ~NSControl() override;
    // Gives the control its Qt widget (it owns it).
    void adoptWidget(QWidget* widget);
    QWidget* widget() const;
    std::string m_yes = "Yes", m_no = "No";

private:
    struct Binding {
        NSObject* object = nullptr;
        std::string keyPath;
        std::string firstKey;
    };
    static id valueAtPath(NSObject* object, const std::string& keyPath);
    bool attach(Binding& binding, NSObject* object, const std::string& keyPath);
    Binding m_value;
    Binding m_enabled;
    NSObject* m_target = nullptr;
    std::string m_action;
};

// Text: a value field (selectable, copyable) or a fixed label.
class NSTextField : public NSControl {
    OBJC_CLASS(NSTextField, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    NSString* stringValue() const;
    void setStringValue(NSString* text);
    // "title" (large, bold), "heading" (bold), "caption" (small, dimmed) or
    // "warning" (bold, dark red).
    void setTextStyle(const std::string& style);
    // Whether the field hides while its value is nil or empty.
    void setHidesWhenEmpty(bool hides) { m_hidesWhenEmpty = hides; }
    void showValue(id value) override;

private:
    bool m_hidesWhenEmpty = false;
};

// An image scaled into the view's box. Only the scaled picture is kept: an
// application's icon can be a thousand pixels across.
class NSImageView : public NSControl {
    OBJC_CLASS(NSImageView, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    void setImage(NSImage* image);
    void showValue(id value) override;
};

class NSButton : public NSControl {
    OBJC_CLASS(NSButton, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    NSString* title() const;
    void setTitle(NSString* title);
    // Presses the button as a click does.
    void performClick(id sender);
};

// Several lines of read-only, selectable text.
class NSTextView : public NSControl {
    OBJC_CLASS(NSTextView, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    NSString* string() const;
    void showValue(id value) override;
};

// Read-only rich text from HTML.
class NSHTMLView : public NSControl {
    OBJC_CLASS(NSHTMLView, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    void showValue(id value) override;
};

// A table: a dictionary as name/value rows, an array one row per item.
class NSTableView : public NSControl {
    OBJC_CLASS(NSTableView, NSControl)
public:
    NSView* initWithFrame(NSRect frame) override;
    void setColumnTitles(const std::string& first, const std::string& second);
    NSUInteger numberOfRows() const;
    void showValue(id value) override;
};

// Containers: their subviews are arranged by the container, not by frames.
class NSStackView : public NSView {
    OBJC_CLASS(NSStackView, NSView)
public:
    NSView* initWithFrame(NSRect frame) override;
    void setVertical(BOOL vertical);
    void addArrangedSubview(NSView* view, int stretch = 0);
    void addSpacing(int points);
    void setSpacing(int points);
    void setMargin(int points);
    void addStretch();
};

// A titled group of views, one under the other.
class NSBox : public NSStackView {
    OBJC_CLASS(NSBox, NSStackView)
public:
    NSView* initWithFrame(NSRect frame) override;
    void setTitle(NSString* title);
};

// Rows of a label and a view.
class NSFormView : public NSView {
    OBJC_CLASS(NSFormView, NSView)
public:
    NSView* initWithFrame(NSRect frame) override;
    void addRow(NSString* label, NSView* view);
};

// A view larger than its place, scrolled.
class NSScrollView : public NSView {
    OBJC_CLASS(NSScrollView, NSView)
public:
    NSView* initWithFrame(NSRect frame) override;
    void setDocumentView(NSView* view);
};
