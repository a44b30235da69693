// Window descriptions: every description of the application loads and shows
// every key of the controllers; faults are refused with their line; bound
// controls follow the values they show.
#include "AppKit/NSApplication.h"
#include "AppKit/NSControls.h"
#include "AppKit/NSNib.h"
#include "Foundation/NSValue.h"
#include "IXDocument.h"
#include "TempFolder.h"
#include "UApplicationEntitlementsController.h"
#include "UFileQuarantineController.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every key path bound to `object` in a description ("attributes.quarantined").
std::set<std::string> boundKeys(const std::string& text, const std::string& object)
{
    std::set<std::string> keys;
    const std::regex binding("(?:bind|enabled)=\"" + object + "\\.([A-Za-z0-9_]+)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), binding); it != std::sregex_iterator(); ++it)
        keys.insert((*it)[1]);
    return keys;
}

TEST(Descriptions, TheDocumentWindowShowsEveryKeyOfBothControllers)
{
    const std::string text = readText(SENTREL_DESCRIPTIONS_DIR "/IXDocument.xml");
    ASSERT_FALSE(text.empty());
    struct Case {
        const char* object;
        Class cls;
    } cases[] = {{"attributes", UFileQuarantineController::class_()},
                 {"entitlements", UApplicationEntitlementsController::class_()}};
    for (const auto& c : cases) {
        const std::set<std::string> bound = boundKeys(text, c.object);
        for (const std::string& key : c.cls->allPropertyKeys()) {
            // The delegate is a C++ hook for the controller's users, not a value.
            if (key == "delegate")
                continue;
            EXPECT_TRUE(bound.count(key)) << c.cls->name << "." << key << " is not shown";
        }
    }
}

TEST(Descriptions, EveryDescriptionOfTheApplicationLoads)
{
    NSApplication* app = NSApplication::sharedApplication();
    AutoreleasePoolScope pool;
    // The document's description with a document as owner; the main one with the application.
    auto* document = IXDocument::alloc()->init();
    struct Case {
        const char* name;
        NSObject* owner;
    } cases[] = {{"IXDocument", document}, {"MainMenu", app}};
    for (const auto& c : cases) {
        NSMutableArray* objects = NSMutableArray::array();
        std::string error;
        EXPECT_TRUE(NSNib::loadNibFile(std::string(SENTREL_DESCRIPTIONS_DIR "/") + c.name + ".xml", c.owner, objects, &error))
            << error;
        EXPECT_GT(objects->count(), 3u);
        if (c.owner == document) {
            EXPECT_NE(document->attributesController(), nullptr);
            EXPECT_NE(document->entitlementsController(), nullptr);
            EXPECT_NE(document->removeQuarantinePanel(), nullptr);
            EXPECT_NE(document->appController(), nullptr);
            EXPECT_NE(document->window(), nullptr);
            NSNibReleaseObjects(objects);
        }
    }
    document->release();
}

class DescriptionFaults : public testing::Test {
protected:
    std::string load(const std::string& body)
    {
        NSApplication::sharedApplication();
        const std::string path = folder.writeFile("faulty.xml", "<?xml version=\"1.0\"?>\n<nib>\n" + body + "\n</nib>\n");
        AutoreleasePoolScope pool;
        auto* owner = IXDocument::alloc()->init();
        NSMutableArray* objects = NSMutableArray::array();
        std::string error;
        const bool loaded = NSNib::loadNibFile(path, owner, objects, &error);
        NSNibReleaseObjects(objects);
        owner->release();
        return loaded ? "loaded" : error.substr(error.rfind('/') + 1);
    }
    TempFolder folder;
};

TEST_F(DescriptionFaults, AreRefusedWholeWithTheLineOfTheFault)
{
    const std::string controller = "<object id=\"a\" class=\"UFileQuarantineController\"/>\n";
    EXPECT_EQ(load(controller + "<window><field bind=\"a.quarantined\"/></window>"), "loaded");
    EXPECT_EQ(load(controller + "<window><field bind=\"a.quarantinned\"/></window>"),
              "faulty.xml:4: UFileQuarantineController has no property \"quarantinned\"");
    EXPECT_EQ(load("<object id=\"e\" class=\"UApplicationEntitlementsController\"/>\n"
                   "<window><field bind=\"e.signingIdentity.credentialsDescriptin\"/></window>"),
              "faulty.xml:4: CodeSigningIdentity has no property \"credentialsDescriptin\"");
    EXPECT_EQ(load("<object class=\"NoSuchController\"/>"), "faulty.xml:3: no object class \"NoSuchController\"");
    EXPECT_EQ(load(controller + "<connect object=\"owner\" outlet=\"attributeController\" to=\"a\"/>"),
              "faulty.xml:4: IXDocument has no outlet \"attributeController\"");
    EXPECT_EQ(load(controller + "<connect object=\"owner\" outlet=\"entitlementsController\" to=\"a\"/>"),
              "faulty.xml:4: the outlet \"entitlementsController\" takes a UApplicationEntitlementsController, not a "
              "UFileQuarantineController");
    EXPECT_EQ(load("<window><button title=\"x\" target=\"owner\" action=\"removeEverything\"/></window>"),
              "faulty.xml:3: IXDocument has no action \"removeEverything\"");
    EXPECT_EQ(load("<window><field bind=\"nobody.key\"/></window>"), "faulty.xml:3: no object \"nobody\" to bind to");
    EXPECT_EQ(load("<window><marquee/></window>"), "faulty.xml:3: unknown view element <marquee>");
    EXPECT_EQ(load("<window><unclosed></window>"), "faulty.xml: not a readable XML file");
}

// A value that changes, as the controllers' keys do.
class Observed : public NSObject {
    OBJC_CLASS(Observed, NSObject)
public:
    id value() const { return m_value; }
    void setValue(id value) { setPropertyValue("value", m_value, value); }
    Observed* inner() const { return m_inner; }
    void setInner(Observed* inner) { setPropertyValue("inner", m_inner, inner); }

private:
    Retained<NSObject> m_value;
    Retained<Observed> m_inner;
};
OBJC_IMPLEMENTATION(Observed, NSObject)
{
    cls.property("value", &Observed::value, &Observed::setValue);
    cls.property("inner", &Observed::inner, &Observed::setInner);
}

TEST(Bindings, AControlShowsItsValueAgainAfterEachChangeInTheFormOfItsKind)
{
    NSApplication::sharedApplication();
    auto* observed = Observed::alloc();
    auto* field = static_cast<NSTextField*>(NSTextField::alloc()->initWithFrame(NSZeroRect));
    ASSERT_TRUE(field->bind(observed, "value"));
    EXPECT_EQ(field->stringValue()->utf8(), "\u2014");
    observed->setValue(NSSTR("Firefox"));
    EXPECT_EQ(field->stringValue()->utf8(), "Firefox");
    observed->setValue(NSNumber::numberWithBool(true));
    EXPECT_EQ(field->stringValue()->utf8(), "Yes");
    field->setBooleanTexts("Signed", "Not signed");
    observed->setValue(NSNumber::numberWithBool(false));
    EXPECT_EQ(field->stringValue()->utf8(), "Not signed");
    observed->setValue(NSNumber::numberWithInt(42));
    EXPECT_EQ(field->stringValue()->utf8(), "42");
    const uint8_t bytes[] = {0xde, 0xad, 0xbe, 0xef, 0x01};
    observed->setValue(NSData::dataWithBytes(bytes, sizeof bytes));
    EXPECT_EQ(field->stringValue()->utf8(), "DE AD BE EF  01");
    observed->setValue(NSArray::arrayWithObjects({NSSTR("a"), NSSTR("b")}));
    EXPECT_EQ(field->stringValue()->utf8(), "a\nb");
    EXPECT_FALSE(field->bind(observed, "nothing"));

    // A path follows its first key.
    auto* inner = Observed::alloc();
    inner->setValue(NSSTR("inside"));
    auto* nested = static_cast<NSTextField*>(NSTextField::alloc()->initWithFrame(NSZeroRect));
    ASSERT_TRUE(nested->bind(observed, "inner.value"));
    EXPECT_EQ(nested->stringValue()->utf8(), "\u2014");
    observed->setInner(inner);
    EXPECT_EQ(nested->stringValue()->utf8(), "inside");

    auto* table = static_cast<NSTableView*>(NSTableView::alloc()->initWithFrame(NSZeroRect));
    ASSERT_TRUE(table->bind(observed, "value"));
    auto* dictionary = NSMutableDictionary::dictionary();
    dictionary->setObject(NSSTR("1"), NSSTR("one"));
    dictionary->setObject(NSSTR("2"), NSSTR("two"));
    observed->setValue(dictionary);
    EXPECT_EQ(table->numberOfRows(), 2u);

    for (NSControl* control : {static_cast<NSControl*>(field), static_cast<NSControl*>(nested), static_cast<NSControl*>(table)}) {
        control->unbind();
        control->release();
    }
    // Unbound controls no longer follow.
    observed->release();
    inner->release();
}

} // namespace
