// What the inspector tests share: a controller on a temporary folder, and an
// observer that records every change notice it gets.
#pragma once

#include "TempFolder.h"
#include "UFileQuarantineController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// Records notices as "will:key" and "did:key".
class NoticeRecorder : public NSObject {
    OBJC_CLASS(NoticeRecorder, NSObject)
public:
    std::vector<std::string> log;
    void observeValueForKeyPath(NSString* keyPath, id, NSDictionary* change, void*) override
    {
        const bool prior = change->objectForKey(NSKeyValueChangeNotificationIsPriorKey) != nil;
        log.push_back((prior ? "will:" : "did:") + keyPath->utf8());
    }
    size_t count(const std::string& entry) const { return static_cast<size_t>(std::count(log.begin(), log.end(), entry)); }
};

// Observes keys of an object for the life of the scope.
class Observation {
public:
    Observation(NSObject* object, NoticeRecorder* recorder, std::vector<std::string> keys)
        : m_object(object), m_recorder(recorder), m_keys(std::move(keys))
    {
        for (const auto& key : m_keys)
            m_object->addObserver(m_recorder, key, NSKeyValueObservingOptionPrior, nullptr);
    }
    ~Observation()
    {
        for (const auto& key : m_keys)
            m_object->removeObserver(m_recorder, key);
    }

private:
    NSObject* m_object;
    NoticeRecorder* m_recorder;
    std::vector<std::string> m_keys;
};

inline std::string utf8(const NSString* text) { return text ? text->utf8() : "<nil>"; }

inline std::string bytesOf(const NSData* data)
{
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : "<nil>";
}

inline std::vector<std::string> stringsOf(const NSArray* array)
{
    std::vector<std::string> out;
    if (array)
        for (id item : *array)
            out.push_back(static_cast<NSString*>(item)->utf8());
    return out;
}

template <class Controller>
struct ControllerTest : testing::Test {
    void SetUp() override
    {
        if (!folder.usable())
            GTEST_SKIP() << "/tmp keeps no user extended attributes";
    }
    void TearDown() override { NSDateFormatter::setDefaultLocaleAndTimeZone(nil, nil); }
    // A file in the folder, with attributes by their macOS names.
    std::string file(const std::string& name, std::initializer_list<std::pair<const char*, std::string>> attributes = {})
    {
        const std::string path = folder.writeFile(name, "contents");
        for (const auto& [attribute, value] : attributes)
            EXPECT_TRUE(TempFolder::setAttribute(path, attribute, value)) << attribute;
        return path;
    }
    void open(const std::string& path) { controller->setFileURL(TempFolder::url(path)); }

    TempFolder folder;
    Retained<Controller> controller = Retained<Controller>::adopt(static_cast<Controller*>(Controller::alloc()->init()));
    Retained<NoticeRecorder> recorder = Retained<NoticeRecorder>::adopt(NoticeRecorder::alloc());
};
