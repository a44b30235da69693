// Entries spread over worker processes come back whole, once each, in order.
#include "Workers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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
    // The texts are looked at when the flush comes, as the program writes
    // them then: they must still be whole.
    struct Held {
        size_t index;
        uint32_t flags;
        std::string_view out, err;
    };
    std::vector<Held> held;
    size_t flushes = 0;
    // Two start at once, the third when the run comes.
    WorkerPool pool(
        2, [] {},
        [](std::string_view list) -> Inspect {
            // The flags say whether the worker was given the list whole.
            return [right = list == "the list"](size_t i) {
                if (i == kDies)
                    ::_exit(0);   // it ends without answering
                EntryOutcome outcome;
                outcome.out = textOf(i);
                outcome.err = i % 5 == 0 ? "note " + std::to_string(i) + "\n" : "";
                outcome.flags = right ? static_cast<uint32_t>(i) : 12345;
                return outcome;
            };
        });
    ASSERT_EQ(pool.size(), 2u);
    pool.run(
        "the list", kCount, 3, [](size_t) -> EntryOutcome { ADD_FAILURE() << "every entry was taken"; return {}; },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view err) { held.push_back({i, flags, out, err}); },
        [&] {
            ++flushes;
            for (const Held& h : held) {
                const bool isLost = h.index == kDies;
                seen.push_back({h.index, h.flags, h.out == (isLost ? "" : textOf(h.index)),
                                h.err == (isLost                ? "lost\n"
                                          : h.index % 5 == 0 ? "note " + std::to_string(h.index) + "\n"
                                                             : "")});
            }
            held.clear();
        },
        lost);

    EXPECT_EQ(pool.size(), 3u);
    ASSERT_EQ(seen.size(), kCount);
    for (size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(seen[i].index, i);
        EXPECT_EQ(seen[i].flags, i == kDies ? 999u : i);
        EXPECT_TRUE(seen[i].outRight) << i;
        EXPECT_TRUE(seen[i].errRight) << i;
    }
    EXPECT_GE(flushes, 1u);
}

// Many more reports than the workers' shared memory holds at once, some
// going through it and some (when the parent is slow to write them out)
// through the pipe: each must still be whole when its flush comes, so none
// may be overwritten before it has been written out.
TEST(Workers, ReportsStayWholeUntilWrittenOut)
{
    constexpr size_t kCount = 3000;
    const auto reportOf = [](size_t i) {
        std::string text = std::to_string(i) + ":";
        text.resize(500 + i * 37 % 3000, static_cast<char>('a' + i % 26));
        return text;
    };
    WorkerPool pool(2, [] {}, [&](std::string_view) -> Inspect {
        return [&](size_t i) { return EntryOutcome{reportOf(i), "", 0}; };
    });
    std::vector<std::pair<size_t, std::string_view>> held;
    size_t checked = 0, wrong = 0, flushes = 0;
    pool.run(
        "", kCount, 2, [](size_t) { return EntryOutcome{}; },
        [&](size_t i, uint32_t, std::string_view out, std::string_view) { held.push_back({i, out}); },
        [&] {
            // Now and then a slow writer, while the workers go on.
            if (++flushes % 16 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            for (const auto& [i, out] : held) {
                wrong += out != reportOf(i);
                checked += i == checked;
            }
            held.clear();
        },
        {});
    EXPECT_EQ(checked, kCount);
    EXPECT_EQ(wrong, 0u);
}

// A worker taken over by a hostile file could write anything on its pipe.
// One whose record places its report outside the memory it shares with
// the program is ended there: the entry is lost, the entries it had not
// taken are inspected by the program, and nothing is read from outside.
TEST(Workers, AWorkerWhoseRecordLiesIsEnded)
{
    WorkerPool pool(1, [] {}, [](std::string_view) -> Inspect {
        return [](size_t i) {
            if (i == 2) {
                // This worker's own pipe: the one write-only pipe that is
                // not the test's standard output or error.
                struct stat out{}, err{};
                ::fstat(STDOUT_FILENO, &out);
                ::fstat(STDERR_FILENO, &err);
                for (int fd = 3; fd < 1024; ++fd) {
                    struct stat st{};
                    if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY ||
                        st.st_ino == out.st_ino || st.st_ino == err.st_ino)
                        continue;
                    // Index 2, flags, a report of a terabyte at the ring's
                    // start, no error text.
                    const uint64_t header[5] = {2, 7, uint64_t(1) << 40, 0, 0};
                    (void)!::write(fd, header, sizeof header);
                }
                ::pause();   // until the program ends it
            }
            return EntryOutcome{"report " + std::to_string(i), "", 1};
        };
    });
    EntryOutcome lost;
    lost.flags = 999;
    std::vector<std::string> seen;
    pool.run(
        "", 5, 1, [](size_t i) { return EntryOutcome{"here " + std::to_string(i), "", 2}; },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view) {
            seen.push_back(std::to_string(i) + " " + std::to_string(flags) + " " + std::string(out));
        },
        [] {}, lost);
    EXPECT_EQ(seen, (std::vector<std::string>{"0 1 report 0", "1 1 report 1", "2 999 ", "3 2 here 3", "4 2 here 4"}));
}

// The workers start up before the run (that is what they are started early
// for); a pool never run ends its workers, however far they are; when every
// worker ends before taking an entry, the entries are inspected here; and
// workers started for entries that did not come are ended.
TEST(Workers, WorkersStartBeforeTheRunAndOnlyThoseNeededStay)
{
    char pattern[] = "/tmp/sentrel-workers-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const auto startedCount = [&] {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            n += entry.path().filename().string().starts_with("started");
        return n;
    };
    const auto waitForStarts = [&](size_t n) {
        for (int tries = 0; tries < 500 && startedCount() < n; ++tries)
            ::usleep(10000);
        return startedCount();
    };
    const auto noEntries = [](std::string_view) -> Inspect { return [](size_t) { return EntryOutcome{}; }; };
    const auto before = std::chrono::steady_clock::now();
    {
        WorkerPool idle(2, [&] {
            std::ofstream(folder + "/started" + std::to_string(::getpid()));
            ::sleep(60);
        }, noEntries);
        EXPECT_EQ(waitForStarts(2), 2u);
    }
    // The sleepers were ended, not waited for.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);

    WorkerPool failing(2, [&] {
        std::ofstream(folder + "/started" + std::to_string(::getpid()));
        ::_exit(1);
    }, noEntries);
    EXPECT_EQ(waitForStarts(2), 2u);
    std::vector<size_t> order;
    failing.run(
        "", 5, 2,
        [](size_t i) {
            EntryOutcome outcome;
            outcome.flags = static_cast<uint32_t>(i) + 100;
            return outcome;
        },
        [&](size_t i, uint32_t flags, std::string_view, std::string_view) {
            EXPECT_EQ(flags, i + 100);
            order.push_back(i);
        },
        [] {}, EntryOutcome{});
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4}));

    // Started for more entries than came: the ones not needed are ended.
    WorkerPool three(3, [] {}, [](std::string_view) -> Inspect {
        return [](size_t) { return EntryOutcome{"one", "", 7}; };
    });
    std::string got;
    three.run(
        "", 1, 4, [](size_t) { return EntryOutcome{}; },
        [&](size_t, uint32_t flags, std::string_view out, std::string_view) { got = std::string(out) + std::to_string(flags); },
        [] {}, EntryOutcome{});
    EXPECT_EQ(three.size(), 1u);
    EXPECT_EQ(got, "one7");
    std::filesystem::remove_all(folder);
}

// Pieces go out whole and in order, however many there are and whatever
// their sizes, empty ones among them.
TEST(Workers, WriteAllSendsEveryPieceInOrder)
{
    std::vector<std::string> texts;
    for (size_t i = 0; i < 3000; ++i)
        texts.push_back(i % 3 == 0 ? std::string() : std::string(i % 1000 == 1 ? 200000 : i % 50, char('A' + i % 26)));
    std::vector<std::string_view> pieces(texts.begin(), texts.end());
    std::string expected;
    for (const std::string& text : texts)
        expected += text;

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string got;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            got.append(buffer, static_cast<size_t>(n));
    });
    EXPECT_TRUE(writeAll(fds[1], pieces));
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

} // namespace
