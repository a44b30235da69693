#include "InspectTesting.h"

OBJC_IMPLEMENTATION(NoticeRecorder, NSObject) {}
