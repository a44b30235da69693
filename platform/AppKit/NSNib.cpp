#include "AppKit/NSNib.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSControls.h"
#include "AppKit/NSMenu.h"
#include "AppKit/NSWindow.h"
#include "Foundation/NSBundle.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

OBJC_IMPLEMENTATION(NSNib, NSObject) {}

namespace {

struct RegisteredClass {
    NSNibClassKind kind;
    NSNibFactory make;
};

std::map<std::string, RegisteredClass, std::less<>>& registeredClasses()
{
    static auto* const classes = new std::map<std::string, RegisteredClass, std::less<>>;
    return *classes;
}

std::map<std::string, NSObject* (*)(), std::less<>>& namedObjects()
{
    static auto* const objects = new std::map<std::string, NSObject* (*)(), std::less<>>;
    return *objects;
}

std::string attr(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return {};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

bool is(xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

float number(xmlNode* node, const char* name, float fallback)
{
    const std::string text = attr(node, name);
    if (text.empty())
        return fallback;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    return (end && *end == '\0' && value >= 0 && value < 100000) ? value : fallback;
}

std::vector<xmlNode*> elements(xmlNode* parent)
{
    std::vector<xmlNode*> children;
    for (xmlNode* child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            children.push_back(child);
    return children;
}

NSString* string(const std::string& utf8) { return NSString::stringWithUTF8(utf8); }

// One load of one description.
class Loader {
public:
    Loader(const std::string& file, NSObject* owner, NSMutableArray* top) : m_file(file), m_owner(owner), m_top(top) {}

    bool load(xmlNode* root)
    {
        if (!is(root, "nib"))
            return fail(root, "the root element is not <nib>");
        for (xmlNode* node : elements(root)) {
            bool ok = true;
            if (is(node, "object"))
                ok = loadObject(node);
            else if (is(node, "window"))
                ok = loadWindow(node);
            else if (is(node, "mainmenu"))
                ok = loadMainMenu(node);
            else if (is(node, "connect"))
                m_deferred.push_back([this, node] { return connect(node); });
            else
                ok = fail(node, "unknown element <" + std::string(reinterpret_cast<const char*>(node->name)) + ">");
            if (!ok)
                return false;
        }
        for (auto& step : m_deferred)
            if (!step())
                return false;
        for (NSObject* object : m_made)
            object->awakeFromNib();
        for (NSWindow* window : m_visible)
            window->makeKeyAndOrderFront(nil);
        return true;
    }

    const std::string& error() const { return m_error; }

private:
    bool fail(xmlNode* node, const std::string& message)
    {
        if (m_error.empty())
            m_error = m_file + ":" + std::to_string(node ? xmlGetLineNo(node) : 0) + ": " + message;
        return false;
    }

    // Keeps a made object: the top-level array owns it from now on.
    void keep(NSObject* object, const std::string& id)
    {
        m_top->addObject(object);
        object->release();
        m_made.push_back(object);
        if (!id.empty())
            m_ids[id] = object;
    }

    NSObject* resolve(const std::string& name) const
    {
        if (name == "owner")
            return m_owner;
        if (auto it = m_ids.find(name); it != m_ids.end())
            return it->second;
        if (auto it = namedObjects().find(name); it != namedObjects().end())
            return it->second();
        return nullptr;
    }

    // The class a key path ends in, checking each key on the way; null with
    // an error when a key is no property.
    bool checkKeyPath(xmlNode* node, Class cls, const std::string& keyPath)
    {
        size_t start = 0;
        for (;;) {
            const size_t dot = keyPath.find('.', start);
            const std::string key = keyPath.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            const objc_property* property = cls ? cls->findProperty(key) : nullptr;
            if (!property)
                return fail(node, std::string(cls ? cls->name : "(unknown)") + " has no property \"" + key + "\"");
            if (dot == std::string::npos)
                return true;
            if (!property->valueClass)
                return fail(node, "the key path \"" + keyPath + "\" cannot be followed past \"" + key + "\"");
            cls = property->valueClass();
            start = dot + 1;
        }
    }

    // "object.key.path" -> the object and the key path, checked.
    bool binding(xmlNode* node, const std::string& spec, NSObject** object, std::string* keyPath)
    {
        const size_t dot = spec.find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == spec.size())
            return fail(node, "a binding is written object.key: \"" + spec + "\"");
        *object = resolve(spec.substr(0, dot));
        if (!*object)
            return fail(node, "no object \"" + spec.substr(0, dot) + "\" to bind to");
        *keyPath = spec.substr(dot + 1);
        return checkKeyPath(node, (*object)->isa(), *keyPath);
    }

    bool loadObject(xmlNode* node)
    {
        const std::string className = attr(node, "class");
        auto it = registeredClasses().find(className);
        if (it == registeredClasses().end() || it->second.kind != NSNibClassKind::Object)
            return fail(node, "no object class \"" + className + "\"");
        NSObject* object = it->second.make();
        if (!object)
            return fail(node, "\"" + className + "\" could not be made");
        keep(object, attr(node, "id"));
        return true;
    }

    bool loadWindow(xmlNode* node)
    {
        const std::string className = attr(node, "class").empty() ? "NSWindow" : attr(node, "class");
        auto it = registeredClasses().find(className);
        if (it == registeredClasses().end() || it->second.kind != NSNibClassKind::Window)
            return fail(node, "no window class \"" + className + "\"");
        const float width = number(node, "width", 400), height = number(node, "height", 300);
        NSRect screen = NSScreen::mainScreen() ? NSScreen::mainScreen()->frame() : NSMakeRect(0, 0, width, height);
        const NSRect frame = NSMakeRect(screen.origin.x + number(node, "x", (screen.size.width - width) / 2),
                                        screen.origin.y + number(node, "y", (screen.size.height - height) / 2),
                                        width, height);
        NSUInteger style = 0;
        const std::string styles = " " + attr(node, "style") + " ";
        if (styles.find(" titled ") != std::string::npos)
            style |= NSTitledWindowMask;
        if (styles.find(" closable ") != std::string::npos)
            style |= NSClosableWindowMask;
        if (styles.find(" miniaturizable ") != std::string::npos)
            style |= NSMiniaturizableWindowMask;
        if (styles.find(" resizable ") != std::string::npos)
            style |= NSResizableWindowMask;
        auto* window = static_cast<NSWindow*>(it->second.make());
        window = window->initWithContentRect(frame, style, NSBackingStoreBuffered, NO);
        if (!window)
            return fail(node, "the window could not be made (no display?)");
        keep(window, attr(node, "id"));
        window->setTitle(string(attr(node, "title")));
        window->setMinSize(NSMakeSize(number(node, "minWidth", 1), number(node, "minHeight", 1)));
        window->setMaxSize(NSMakeSize(number(node, "maxWidth", 16384), number(node, "maxHeight", 16384)));
        const auto children = elements(node);
        if (children.size() > 1)
            return fail(node, "a window holds one view");
        if (!children.empty()) {
            NSView* content = loadView(children.front(), NSMakeSize(width, height));
            if (!content)
                return false;
            window->setContentView(content);
        }
        if (attr(node, "visible") == "yes")
            m_visible.push_back(window);
        return true;
    }

    // Makes the view an element describes; null (with the error set) when
    // it cannot. The view is kept by the top-level array until its
    // superview or window holds it.
    NSView* loadView(xmlNode* node, NSSize size = NSZeroSize)
    {
        NSView* view = makeView(node, size);
        if (!view)
            return nullptr;
        keep(view, attr(node, "id"));
        if (const std::string label = attr(node, "label"); !label.empty())
            view->setAccessibilityLabel(string(label));
        return view;
    }

    template <class View>
    View* make(float width = 0, float height = 0)
    {
        return static_cast<View*>(View::alloc()->initWithFrame(NSMakeRect(0, 0, width, height)));
    }

    NSView* makeView(xmlNode* node, NSSize size)
    {
        if (is(node, "vbox") || is(node, "hbox") || is(node, "box")) {
            NSStackView* stack = is(node, "box") ? make<NSBox>() : make<NSStackView>();
            if (is(node, "box"))
                static_cast<NSBox*>(stack)->setTitle(string(attr(node, "title")));
            stack->setVertical(!is(node, "hbox"));
            if (!attr(node, "spacing").empty())
                stack->setSpacing(int(number(node, "spacing", 6)));
            if (!attr(node, "margin").empty())
                stack->setMargin(int(number(node, "margin", 0)));
            for (xmlNode* child : elements(node)) {
                if (is(child, "stretch")) {
                    stack->addStretch();
                } else if (is(child, "spacing")) {
                    stack->addSpacing(int(number(child, "size", 8)));
                } else {
                    NSView* view = loadView(child);
                    if (!view) {
                        stack->release();
                        return nullptr;
                    }
                    stack->addArrangedSubview(view, int(number(child, "stretch", 0)));
                }
            }
            return stack;
        }
        if (is(node, "form")) {
            NSFormView* form = make<NSFormView>();
            for (xmlNode* row : elements(node)) {
                const auto fields = elements(row);
                if (!is(row, "row") || fields.size() != 1) {
                    form->release();
                    fail(row, "a form holds <row label=\"...\"> elements of one view each");
                    return nullptr;
                }
                NSView* view = loadView(fields.front());
                if (!view) {
                    form->release();
                    return nullptr;
                }
                form->addRow(string(attr(row, "label")), view);
            }
            return form;
        }
        if (is(node, "scroll")) {
            const auto children = elements(node);
            if (children.size() != 1) {
                fail(node, "a scroll view holds one view");
                return nullptr;
            }
            NSScrollView* scroll = make<NSScrollView>(size.width, size.height);
            NSView* document = loadView(children.front());
            if (!document) {
                scroll->release();
                return nullptr;
            }
            scroll->setDocumentView(document);
            return scroll;
        }
        if (is(node, "label") || is(node, "field")) {
            NSTextField* field = make<NSTextField>();
            field->setStringValue(string(attr(node, "text")));
            field->setTextStyle(attr(node, "style"));
            field->setHidesWhenEmpty(attr(node, "hideEmpty") == "yes");
            return bindControl(node, field) ? field : nullptr;
        }
        if (is(node, "image")) {
            auto* image = make<NSImageView>(number(node, "width", 64), number(node, "height", 64));
            return bindControl(node, image) ? image : nullptr;
        }
        if (is(node, "text"))
            return bindControl(node, make<NSTextView>(0, number(node, "height", 0)));
        if (is(node, "html"))
            return bindControl(node, make<NSHTMLView>(0, number(node, "height", 0)));
        if (is(node, "table")) {
            NSTableView* table = make<NSTableView>(0, number(node, "height", 0));
            const std::string columns = attr(node, "columns");
            if (const size_t bar = columns.find('|'); bar != std::string::npos)
                table->setColumnTitles(columns.substr(0, bar), columns.substr(bar + 1));
            return bindControl(node, table);
        }
        if (is(node, "button")) {
            NSButton* button = make<NSButton>();
            button->setTitle(string(attr(node, "title")));
            return bindControl(node, button);
        }
        if (is(node, "view")) {
            const std::string className = attr(node, "class");
            auto it = registeredClasses().find(className);
            if (it == registeredClasses().end() || it->second.kind != NSNibClassKind::View) {
                fail(node, "no view class \"" + className + "\"");
                return nullptr;
            }
            auto* view = static_cast<NSView*>(it->second.make());
            return view->initWithFrame(NSMakeRect(0, 0, number(node, "width", size.width), number(node, "height", size.height)));
        }
        fail(node, "unknown view element <" + std::string(reinterpret_cast<const char*>(node->name)) + ">");
        return nullptr;
    }

    // The control's bindings and action, checked now and made once every
    // object of the description exists. The control is released on failure.
    template <class Control>
    Control* bindControl(xmlNode* node, Control* control)
    {
        if (const std::string yes = attr(node, "yes"); !yes.empty())
            control->setBooleanTexts(yes, attr(node, "no"));
        const std::string value = attr(node, "bind"), enabled = attr(node, "enabled"), action = attr(node, "action");
        if (value.empty() && enabled.empty() && action.empty())
            return control;
        m_deferred.push_back([this, node, control, value, enabled, action] {
            NSObject* object = nullptr;
            std::string keyPath;
            if (!value.empty() && (!binding(node, value, &object, &keyPath) || !control->bind(object, keyPath)))
                return fail(node, "cannot bind \"" + value + "\"");
            if (!enabled.empty() && (!binding(node, enabled, &object, &keyPath) || !control->bindEnabled(object, keyPath)))
                return fail(node, "cannot bind \"" + enabled + "\"");
            if (!action.empty()) {
                NSObject* target = resolve(attr(node, "target"));
                if (!target)
                    return fail(node, "no target \"" + attr(node, "target") + "\"");
                if (!target->isa()->findAction(action))
                    return fail(node, std::string(target->isa()->name) + " has no action \"" + action + "\"");
                control->setTarget(target);
                control->setAction(action);
            }
            return true;
        });
        return control;
    }

    bool connect(xmlNode* node)
    {
        NSObject* object = resolve(attr(node, "object"));
        NSObject* destination = resolve(attr(node, "to"));
        const std::string outlet = attr(node, "outlet");
        if (!object || !destination)
            return fail(node, "a connection needs an existing object and destination");
        const objc_property* property = object->isa()->findProperty(outlet);
        if (!property || !property->set)
            return fail(node, std::string(object->isa()->name) + " has no outlet \"" + outlet + "\"");
        if (property->valueClass && !destination->isKindOfClass(property->valueClass()))
            return fail(node, "the outlet \"" + outlet + "\" takes a " + property->valueClass()->name + ", not a " +
                                  destination->isa()->name);
        property->set(object, destination);
        return true;
    }

    bool loadMainMenu(xmlNode* node)
    {
        NSMenu* menu = loadMenu(node);
        if (!menu)
            return false;
        m_deferred.push_back([menu = Retained<NSMenu>(menu)] {
            NSApplication::sharedApplication()->setMainMenu(menu);
            return true;
        });
        return true;
    }

    NSMenu* loadMenu(xmlNode* node)
    {
        NSMenu* menu = NSMenu::menuWithTitle(string(attr(node, "title")));
        for (xmlNode* child : elements(node)) {
            if (is(child, "separator")) {
                menu->addItem(NSMenuItem::separatorItem());
            } else if (is(child, "menu")) {
                NSMenu* submenu = loadMenu(child);
                if (!submenu)
                    return nullptr;
                NSMenuItem* item = NSMenuItem::itemWithTitle(string(attr(child, "title")), nullptr, nil);
                item->setSubmenu(submenu);
                menu->addItem(item);
            } else if (is(child, "item")) {
                NSMenuItem* item = loadItem(child);
                if (!item)
                    return nullptr;
                menu->addItem(item);
            } else {
                fail(child, "a menu holds <item>, <menu> and <separator> elements");
                return nullptr;
            }
        }
        return menu;
    }

    NSMenuItem* loadItem(xmlNode* node)
    {
        const std::string target = attr(node, "target"), action = attr(node, "action");
        // "keyWindow" is the window that has the keyboard when the item is
        // chosen; every other target is found now.
        if (attr(node, "role") == "recent") {
            NSMenuItem* item = NSMenuItem::itemWithTitle(string(attr(node, "title")), nullptr, nil);
            item->setRole(NSMenuItemRoleRecentDocuments);
            return item;
        }
        NSObject* fixed = nullptr;
        if (target != "keyWindow") {
            fixed = resolve(target);
            if (!fixed || !fixed->isa()->findAction(action)) {
                fail(node, "no action \"" + action + "\" of \"" + target + "\"");
                return nullptr;
            }
        }
        NSMenuItem* item = NSMenuItem::itemWithTitle(
            string(attr(node, "title")),
            [fixed, action](NSMenuItem* sender) {
                NSObject* target = fixed ? fixed : (NSApp ? static_cast<NSObject*>(NSApp->keyWindow()) : nullptr);
                if (!target)
                    return;
                Retained<NSObject> keep(target);
                if (const auto* method = target->isa()->findAction(action))
                    (*method)(target, sender);
            },
            string(attr(node, "key")));
        return item;
    }

    std::string m_file;
    NSObject* m_owner;
    NSMutableArray* m_top;
    std::map<std::string, NSObject*> m_ids;
    std::vector<NSObject*> m_made;
    std::vector<std::function<bool()>> m_deferred;
    std::vector<NSWindow*> m_visible;
    std::string m_error;
};

} // namespace

void NSNibReleaseObjects(NSMutableArray* objects)
{
    if (!objects)
        return;
    for (NSUInteger i = 0; i < objects->count(); ++i)
        if (auto* control = dynamic_cast<NSControl*>(objects->objectAtIndex(i)))
            control->unbind();
    objects->removeAllObjects();
}

void NSNibRegisterClass(const char* name, NSNibClassKind kind, NSNibFactory factory)
{
    registeredClasses()[name] = {kind, factory};
}

void NSNibRegisterNamedObject(const char* name, NSObject* (*find)()) { namedObjects()[name] = find; }

bool NSNib::loadNibFile(const std::string& path, NSObject* owner, NSMutableArray* topLevelObjects, std::string* error)
{
    AutoreleasePoolScope pool;
    // No network, no external entities, no DTD.
    xmlDoc* document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document) {
        if (error)
            *error = path + ": not a readable XML file";
        return false;
    }
    NSMutableArray* made = NSMutableArray::array();
    Loader loader(path, owner, made);
    const bool ok = loader.load(xmlDocGetRootElement(document));
    xmlFreeDoc(document);
    if (!ok) {
        if (error)
            *error = loader.error();
        NSNibReleaseObjects(made);
        return false;
    }
    if (topLevelObjects)
        topLevelObjects->addObjectsFromArray(made);
    return true;
}

bool NSNib::loadNibNamed(NSString* name, NSObject* owner, NSMutableArray* topLevelObjects, std::string* error)
{
    NSString* path = name ? NSBundle::mainBundle()->pathForResource(name, NSSTR("xml")) : nullptr;
    if (!path) {
        if (error)
            *error = "no window description \"" + (name ? name->utf8() : std::string()) + "\" among the resources";
        return false;
    }
    return loadNibFile(path->fileSystemRepresentation(), owner, topLevelObjects, error);
}
