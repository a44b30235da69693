// The test programs' main: every test runs inside its own autorelease pool,
// as code on the platform's main thread runs inside the event loop's pool.
#include "objc/NSObject.h"

#include <gtest/gtest.h>

namespace {
class PoolPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { m_pool = NSAutoreleasePool::alloc()->init(); }
    void OnTestEnd(const testing::TestInfo&) override { m_pool->drain(); }
    NSAutoreleasePool* m_pool = nullptr;
};
} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new PoolPerTest);
    return RUN_ALL_TESTS();
}
