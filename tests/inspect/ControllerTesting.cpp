#include "ControllerTesting.h"

OBJC_IMPLEMENTATION(NoticeRecorder, NSObject) {}
