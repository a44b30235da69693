// Shared by the window tests: the application on Qt's offscreen platform, and
// events made as the window system would queue them.
#pragma once

#include "AppKit/NSApplication.h"
#include "AppKit/NSWindow.h"

#include <gtest/gtest.h>

#include <functional>

class WindowTest : public testing::Test {
protected:
    void SetUp() override;
    // Queues a mouse event at a screen point, for the window.
    static NSEvent* queueMouse(NSWindow* window, NSEventType type, NSPoint screen, NSUInteger flags = 0);
    // Runs `action` once the event loop runs again, `ms` from now.
    static void later(int ms, std::function<void()> action);
    // The main screen's frame.
    static NSRect screen();
};
