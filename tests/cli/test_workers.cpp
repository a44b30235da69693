// Entries spread over worker processes come back whole, once each, in order.
#include "Workers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Every seventh text is larger than a pipe holds, so that records span many
// reads and outgrow the parent's buffer.
std::string textOf(size_t i)
{
    return std::string(i % 7 == 0 ? (3u << 20) + i : 100 + i, static_cast<char>('a' + i % 26));
}

TEST(Workers, RecordsOfAnySizeComeInOrderAndAnEntryWhoseWorkerDiedIsLost)
{
    constexpr size_t kCount = 40;
    constexpr size_t kDies = 11;
    EntryOutcome lost;
    lost.flags = 999;
    lost.err = "lost\n";

    struct Seen {
        size_t index;
        uint32_t flags;
        bool outRight, errRight;
    };
    std::vector<Seen> seen;
    size_t flushes = 0;
    inspectInOrder(
        kCount, 3,
        [&](size_t i) {
            if (i == kDies)
                ::_exit(0);   // in a worker: it ends without answering
            EntryOutcome outcome;
            outcome.out = textOf(i);
            outcome.err = i % 5 == 0 ? "note " + std::to_string(i) + "\n" : "";
            outcome.flags = static_cast<uint32_t>(i);
            return outcome;
        },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view err) {
            const bool isLost = i == kDies;
            seen.push_back({i, flags, out == (isLost ? "" : textOf(i)),
                            err == (isLost ? "lost\n" : i % 5 == 0 ? "note " + std::to_string(i) + "\n" : "")});
        },
        [&] { ++flushes; }, lost);

    ASSERT_EQ(seen.size(), kCount);
    for (size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(seen[i].index, i);
        EXPECT_EQ(seen[i].flags, i == kDies ? 999u : i);
        EXPECT_TRUE(seen[i].outRight) << i;
        EXPECT_TRUE(seen[i].errRight) << i;
    }
    EXPECT_GE(flushes, 1u);
    EXPECT_LE(flushes, kCount);
}

} // namespace
