// Entries spread over worker processes come back whole, once each, in order.
#include "Workers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
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

// Adds `count` entries from a thread of its own, as the walk does: the
// record of entry i is recordOf(i), or, where done(i) says, an outcome made
// without a worker.
std::thread adding(WorkerPool& pool, size_t count, std::function<std::string(size_t)> recordOf,
                   std::function<std::optional<EntryOutcome>(size_t)> done = {})
{
    return std::thread([&pool, count, recordOf, done] {
        for (size_t i = 0; i < count; ++i) {
            if (auto outcome = done ? done(i) : std::nullopt)
                pool.addDone(std::move(*outcome));
            else
                pool.add(recordOf(i));
        }
        pool.close();
    });
}

std::string numbered(size_t i)
{
    return "entry " + std::to_string(i);
}

// Now and then a record longer than a packet of the queue (a path can be
// as long), which goes to the workers another way.
std::string numberedOrLong(size_t i)
{
    return i % 9 == 4 ? numbered(i) + std::string(5000 + i, '/') : numbered(i);
}

TEST(Workers, RecordsOfAnySizeComeInOrderAndAnEntryWhoseWorkerDiedIsLost)
{
    constexpr size_t kCount = 40;
    constexpr size_t kDies = 13;

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
    // Every sixth entry is done without a worker (as the walk's errors are).
    const auto done = [](size_t i) -> std::optional<EntryOutcome> {
        if (i % 6 != 5)
            return std::nullopt;
        return EntryOutcome{"", "done " + std::to_string(i) + "\n", 500};
    };
    WorkerPool pool(3, [] {}, [](size_t i, std::string_view record) {
        if (i == kDies)
            ::_exit(0);   // it ends without answering
        EntryOutcome outcome;
        outcome.out = textOf(i);
        outcome.err = i % 5 == 0 ? "note " + std::to_string(i) + "\n" : "";
        // The flags say whether the worker was given its entry whole.
        outcome.flags = record == numberedOrLong(i) ? static_cast<uint32_t>(i) : 12345;
        return outcome;
    });
    ASSERT_EQ(pool.size(), 3u);
    std::thread walk = adding(pool, kCount, numberedOrLong, done);
    pool.run(
        [](size_t, std::string_view) -> EntryOutcome { ADD_FAILURE() << "every entry was taken"; return {}; },
        [](std::string_view record) { return EntryOutcome{"", "lost " + std::string(record) + "\n", 999}; },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view err) { held.push_back({i, flags, out, err}); },
        [&] {
            ++flushes;
            for (const Held& h : held) {
                const std::string err = h.index == kDies       ? "lost " + numberedOrLong(h.index) + "\n"
                                        : done(h.index)       ? done(h.index)->err
                                        : h.index % 5 == 0    ? "note " + std::to_string(h.index) + "\n"
                                                              : "";
                const bool noOut = h.index == kDies || done(h.index);
                seen.push_back({h.index, h.flags, h.out == (noOut ? "" : textOf(h.index)), h.err == err});
            }
            held.clear();
        });
    walk.join();

    ASSERT_EQ(seen.size(), kCount);
    for (size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(seen[i].index, i);
        EXPECT_EQ(seen[i].flags, i == kDies ? 999u : done(i) ? 500u : i);
        EXPECT_TRUE(seen[i].outRight) << i;
        EXPECT_TRUE(seen[i].errRight) << i;
    }
    EXPECT_GE(flushes, 1u);
}

// Many more reports than the workers' shared memory holds at once, some
// going through it and some (when the parent is slow to write them out)
// through the pipe: each must still be whole when its flush comes, so none
// may be overwritten before it has been written out. Meanwhile the walk,
// far faster than the workers, is held back: what is held at once stays
// bounded however many entries come.
TEST(Workers, ReportsStayWholeUntilWrittenOutAndTheWalkIsHeldBack)
{
    constexpr size_t kCount = 12000;
    const auto reportOf = [](size_t i) {
        std::string text = std::to_string(i) + ":";
        text.resize(500 + i * 37 % 3000, static_cast<char>('a' + i % 26));
        return text;
    };
    WorkerPool pool(2, [] {}, [&](size_t i, std::string_view) { return EntryOutcome{reportOf(i), "", 0}; });
    std::thread walk = adding(pool, kCount, numbered);
    std::vector<std::pair<size_t, std::string_view>> held;
    size_t checked = 0, wrong = 0, flushes = 0, mostAhead = 0;
    pool.run(
        [](size_t, std::string_view) { return EntryOutcome{}; }, [](std::string_view) { return EntryOutcome{}; },
        [&](size_t i, uint32_t, std::string_view out, std::string_view) {
            held.push_back({i, out});
            mostAhead = std::max(mostAhead, pool.added() - i);
        },
        [&] {
            // Now and then a slow writer, while the workers go on.
            if (++flushes % 16 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            for (const auto& [i, out] : held) {
                wrong += out != reportOf(i);
                checked += i == checked;
            }
            held.clear();
        });
    walk.join();
    EXPECT_EQ(checked, kCount);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(mostAhead, 100u);
    EXPECT_LE(mostAhead, 4097u);
}

// A worker taken over by a hostile file could write anything on its pipe.
// One whose record places its report outside the memory it shares with
// the program is ended there: the entry is lost, the entries it had not
// taken are inspected by the program, and nothing is read from outside.
TEST(Workers, AWorkerWhoseRecordLiesIsEnded)
{
    WorkerPool pool(1, [] {}, [](size_t i, std::string_view) {
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
    });
    std::thread walk = adding(pool, 5, numbered);
    std::vector<std::string> seen;
    pool.run([](size_t i, std::string_view record) { return EntryOutcome{"here " + std::string(record), "", 2}; },
             [](std::string_view record) { return EntryOutcome{"lost " + std::string(record), "", 999}; },
             [&](size_t i, uint32_t flags, std::string_view out, std::string_view) {
                 seen.push_back(std::to_string(i) + " " + std::to_string(flags) + " " + std::string(out));
             },
             [] {});
    walk.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"0 1 report 0", "1 1 report 1", "2 999 lost entry 2", "3 2 here entry 3",
                                              "4 2 here entry 4"}));
}

// The workers start up before the run (that is what they are started early
// for); a pool never run ends its workers, however far they are; and when
// every worker ends before taking an entry, the entries are inspected here.
TEST(Workers, WorkersStartBeforeTheRunAndTheProgramStandsInForThemAll)
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
    const auto nothing = [](size_t, std::string_view) { return EntryOutcome{}; };
    const auto before = std::chrono::steady_clock::now();
    {
        WorkerPool idle(2, [&] {
            std::ofstream(folder + "/started" + std::to_string(::getpid()));
            ::sleep(60);
        }, nothing);
        EXPECT_EQ(waitForStarts(2), 2u);
    }
    // The sleepers were ended, not waited for.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);

    WorkerPool failing(2, [&] {
        std::ofstream(folder + "/started" + std::to_string(::getpid()));
        ::_exit(1);
    }, nothing);
    EXPECT_EQ(waitForStarts(2), 2u);
    // More entries than the queue holds, so that the walk waits for the
    // program to take them.
    constexpr size_t kCount = 600;
    std::thread walk = adding(failing, kCount, numberedOrLong);
    std::vector<size_t> order;
    failing.run(
        [](size_t i, std::string_view record) {
            return EntryOutcome{std::string(record), "", static_cast<uint32_t>(i) + 100};
        },
        [](std::string_view) { return EntryOutcome{"lost", "", 0}; },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view) {
            EXPECT_EQ(flags, i + 100);
            EXPECT_EQ(out, numberedOrLong(i));
            order.push_back(i);
        },
        [] {});
    walk.join();
    ASSERT_EQ(order.size(), kCount);
    for (size_t i = 0; i < kCount; ++i)
        EXPECT_EQ(order[i], i);
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
