#include "output_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <new>
#include <set>
#include <thread>

#include "run_tree.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// Allocations left before the next one fails with std::bad_alloc; negative:
// none fails. For the operator new of this test program below.
std::atomic<long> allocations_before_failure{-1};

// Whether the interruption handler is held back from this thread.
bool interruptions_held() {
#ifdef _WIN32
    return false;
#else
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1;
#endif
}

}  // namespace

// The test program's own allocation, which fails where the test says: memory
// from malloc(), given back with free().
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (allocations_before_failure.load() >= 0 && allocations_before_failure.fetch_sub(1) == 0) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

TEST(OutputFile, AppearsUnderItsNameOnlyOnceCommitted) {
    RunTree tree;
    const std::string final_path = (tree.output / "201907_   3_discharge.ppm").string();
    write_text(final_path, "an older image, longer than the new one");
    OutputFile file;
    ASSERT_TRUE(create_output_file(file, final_path, false));
    // A hidden temporary file beside the final name, which no output name
    // pattern matches.
    const std::string temporary = std::filesystem::path(file.temporary_path).filename().string();
    EXPECT_TRUE(temporary.starts_with(".201907_   3_discharge.ppm.")) << temporary;
    EXPECT_TRUE(temporary.ends_with(".tmp")) << temporary;
    EXPECT_TRUE(write_output_file(file, "P6\n15 10\n255\n", 13));
    EXPECT_TRUE(write_output_file(file, "\x01\x0a\x0d", 3));
    EXPECT_EQ(read_bytes(final_path), "an older image, longer than the new one");

    EXPECT_TRUE(commit_output_file(file));
    EXPECT_EQ(read_bytes(final_path), std::string("P6\n15 10\n255\n\x01\x0a\x0d", 16));
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"201907_   3_discharge.ppm"});
}

TEST(OutputFile, TextEndsItsLinesAsThePlatformsTextFiles) {
    RunTree tree;
    const std::filesystem::path final_path = tree.output / "201907-2-1_discharge.dat";
    OutputFile file;
    ASSERT_TRUE(create_output_file(file, final_path.string(), true));
    ASSERT_TRUE(write_output_file(file, "2019 7 1 2\n2019 7 2 8\n", 22));
    ASSERT_TRUE(commit_output_file(file));
#ifdef _WIN32
    EXPECT_EQ(read_bytes(final_path), "2019 7 1 2\r\n2019 7 2 8\r\n");
#else
    EXPECT_EQ(read_bytes(final_path), "2019 7 1 2\n2019 7 2 8\n");
#endif
}

TEST(OutputFile, PiecesAreWrittenInOrder) {
    // More pieces than one gathered write takes, and one larger than the
    // buffer that gathers them where the system cannot.
    RunTree tree;
    const std::filesystem::path final_path = tree.output / "pieces.ppm";
    const std::string large(1536 * 1024, 'L');
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back(i == 1500 ? large : std::to_string(i) + ",");
    }
    std::vector<std::span<const char>> pieces;
    std::string expected;
    for (const std::string& text : texts) {
        pieces.emplace_back(text.data(), text.size());
        expected += text;
    }
    OutputFile file;
    ASSERT_TRUE(create_output_file(file, final_path.string(), false));
    ASSERT_TRUE(write_output_pieces(file, pieces));
    ASSERT_TRUE(commit_output_file(file));
    EXPECT_EQ(read_bytes(final_path), expected);
}

TEST(OutputFile, DiscardedOrAbandonedLeavesNothing) {
    RunTree tree;
    const std::string final_path = (tree.output / "a_discharge.dat").string();
    {
        OutputFile file;
        ASSERT_TRUE(create_output_file(file, final_path, true));
        ASSERT_TRUE(write_output_file(file, "half", 4));
        discard_output_file(file);
        EXPECT_FALSE(write_output_file(file, "more", 4));
        EXPECT_FALSE(commit_output_file(file));
        EXPECT_EQ(file.reason, "the output is not open");

        OutputFile abandoned;
        ASSERT_TRUE(create_output_file(abandoned, final_path, true));
        OutputFile another_run;  // of the same output at once: a file of its own
        ASSERT_TRUE(create_output_file(another_run, final_path, true));
        EXPECT_NE(another_run.temporary_path, abandoned.temporary_path);
    }
    EXPECT_TRUE(file_names_in(tree.output).empty());
}

TEST(OutputFile, CannotBeCreatedWhereNoFileCanBe) {
    RunTree tree;
    std::filesystem::create_directory(tree.output / "taken_discharge.dat");
    write_text(tree.output / "image", "a file, not a folder");
    const struct {
        std::filesystem::path place;
        const char* reason;
    } places[] = {
        {tree.output / "taken_discharge.dat", "Is a directory"},
        {tree.output / "missing" / "x.ppm", "No such file or directory"},
#ifdef _WIN32
        // Windows tells a file in the way as a missing folder.
        {tree.output / "image" / "x.ppm", "No such file or directory"},
#else
        {tree.output / "image" / "x.ppm", "Not a directory"},
#endif
    };
    for (const auto& place : places) {
        OutputFile file;
        EXPECT_FALSE(create_output_file(file, place.place.string(), false)) << place.place;
        EXPECT_EQ(file.reason, place.reason) << place.place;
    }
    EXPECT_EQ(file_names_in(tree.output),
              (std::vector<std::string>{"image", "taken_discharge.dat"}));
}

TEST(OutputFile, NoMoreThanTheTableHoldsAreOpenAtOnce) {
    RunTree tree;
    std::vector<OutputFile> open(OPEN_OUTPUT_LIMIT);
    for (std::size_t i = 0; i < open.size(); ++i) {
        ASSERT_TRUE(create_output_file(open[i], (tree.output / std::to_string(i)).string(), false));
    }
    OutputFile one_more;
    EXPECT_FALSE(create_output_file(one_more, (tree.output / "more").string(), false));
    EXPECT_EQ(one_more.reason, "more than 64 outputs open at once");
    EXPECT_EQ(file_names_in(tree.output).size(), OPEN_OUTPUT_LIMIT);

    ASSERT_TRUE(commit_output_file(open[5]));
    EXPECT_TRUE(create_output_file(one_more, (tree.output / "more").string(), false));
    EXPECT_EQ(one_more.reason, "");
}

#ifndef _WIN32
TEST(OutputFile, AFullDiskEndsTheOutputAndTellsWhy) {
    // The temporary file's descriptor writes to /dev/full, where every write
    // fails as on a full disk.
    RunTree tree;
    const std::filesystem::path final_path = tree.output / "201907_   3_discharge.ppm";
    write_text(final_path, "an older image");
    OutputFile file;
    ASSERT_TRUE(create_output_file(file, final_path.string(), false));
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    ASSERT_EQ(dup2(full, static_cast<int>(file.handle)), file.handle);
    close(full);

    EXPECT_FALSE(write_output_file(file, "P6\n", 3));
    EXPECT_EQ(file.reason, "No space left on device");
    // The temporary file is gone at once; the older image stays.
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"201907_   3_discharge.ppm"});
    EXPECT_FALSE(write_output_file(file, "P6\n", 3));
    EXPECT_FALSE(commit_output_file(file));
    EXPECT_EQ(file.reason, "No space left on device");
    EXPECT_EQ(read_bytes(final_path), "an older image");
}
#endif

TEST(OutputFile, ReasonsReadTheSameOnEverySystem) {
    const struct {
        std::error_code error;
        const char* reason;
    } errors[] = {
        {std::make_error_code(std::errc::no_space_on_device), "No space left on device"},
        {std::make_error_code(std::errc::no_such_file_or_directory), "No such file or directory"},
        {std::make_error_code(std::errc::permission_denied), "Permission denied"},
        {std::make_error_code(std::errc::is_a_directory), "Is a directory"},
        {std::make_error_code(std::errc::read_only_file_system), "Read-only file system"},
        {std::make_error_code(std::errc::file_exists), "File exists"},
#ifdef _WIN32
        {{ERROR_DISK_FULL, std::system_category()}, "No space left on device"},
        {{ERROR_HANDLE_DISK_FULL, std::system_category()}, "No space left on device"},
        {{ERROR_FILE_NOT_FOUND, std::system_category()}, "No such file or directory"},
        {{ERROR_PATH_NOT_FOUND, std::system_category()}, "No such file or directory"},
        {{ERROR_ACCESS_DENIED, std::system_category()}, "Permission denied"},
        {{ERROR_WRITE_PROTECT, std::system_category()}, "Read-only file system"},
        {{ERROR_ALREADY_EXISTS, std::system_category()}, "File exists"},
        {{1295, std::system_category()}, "Disk quota exceeded"},
#else
        {{EDQUOT, std::generic_category()}, "Disk quota exceeded"},
        {{ENOSPC, std::system_category()}, "No space left on device"},
        {{EACCES, std::system_category()}, "Permission denied"},
#endif
    };
    for (const auto& error : errors) {
        EXPECT_EQ(reason_text(error.error), error.reason) << error.error.message();
    }

    // As std::filesystem reports them.
    RunTree tree;
    std::error_code error;
    EXPECT_EQ(std::filesystem::file_size(tree.output / "missing", error), std::uintmax_t(-1));
    EXPECT_EQ(reason_text(error), "No such file or directory");
    EXPECT_EQ(std::filesystem::file_size(tree.output, error), std::uintmax_t(-1));
    EXPECT_EQ(reason_text(error), "Is a directory");
#ifdef _WIN32
    // Others in the system's own words, without the line end and full stop.
    const std::string shared = reason_text({ERROR_SHARING_VIOLATION, std::system_category()});
    EXPECT_FALSE(shared.empty());
    EXPECT_EQ(shared.find_last_of(".\r\n"), std::string::npos) << shared;
#endif
}

TEST(FileLock, OneHolderAtATime) {
    RunTree tree;
    const std::string path = (tree.output / "201907.lock").string();
    std::string reason;
    {
        FileLock first;
        ASSERT_EQ(lock_file(first, path, reason), Locking::locked) << reason;
        FileLock second;
        EXPECT_EQ(lock_file(second, path, reason), Locking::busy);
        EXPECT_EQ(second.handle, -1);
    }
    FileLock again;
    EXPECT_EQ(lock_file(again, path, reason), Locking::locked) << reason;
    // The lock file stays.
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"201907.lock"});

    const struct {
        std::filesystem::path path;
        const char* reason;
    } unlockable[] = {
        {tree.output / "missing" / "201907.lock", "No such file or directory"},
        {tree.output, "Is a directory"},
    };
    for (const auto& place : unlockable) {
        FileLock lock;
        reason.clear();
        EXPECT_EQ(lock_file(lock, place.path.string(), reason), Locking::failed) << place.path;
        EXPECT_EQ(reason, place.reason) << place.path;
    }
}

TEST(OutputFile, AbandonedTemporariesAreRemovedLiveOnesKept) {
    RunTree tree;
    const auto started = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
    // The leftover of a killed run, and its output's folder in the way of
    // a temporary name.
    write_text(tree.output / ".a.ppm.0123456789abcdef.tmp", "half an image");
    std::filesystem::create_directory(tree.output / ".a.ppm.1111111111111111.tmp");
    // Made after the cleanup started: perhaps a writer that has not locked
    // it yet.
    write_text(tree.output / ".a.ppm.fedcba9876543210.tmp", "a new image");
    std::filesystem::last_write_time(tree.output / ".a.ppm.fedcba9876543210.tmp",
                                     started + std::chrono::hours(1));
    // Another output's, and names that are no temporary file's.
    const std::vector<std::string> others = {
        ".b.ppm.0123456789abcdef.tmp", ".a.ppm.ABCDEF0123456789.tmp", "a.ppm.0123456789abcdef.tmp",
        ".a.ppm.0123456789abcde.tmp",  "..0123456789abcdef.tmp",      "a.ppm",
    };
    for (const std::string& name : others) {
        write_text(tree.output / name, "kept");
    }
    // Being written by a live run.
    OutputFile live;
    ASSERT_TRUE(create_output_file(live, (tree.output / "a.ppm").string(), false));
    ASSERT_TRUE(write_output_file(live, "P6\n", 3));
    const std::string live_name = std::filesystem::path(live.temporary_path).filename().string();

    std::set<std::string> asked;
    const auto belongs = [&](const std::string& final_name) {
        asked.insert(final_name);
        return final_name == "a.ppm";
    };
    EXPECT_EQ(remove_abandoned_temporaries(tree.output.string(), belongs, started), 1U);
    EXPECT_EQ(asked, (std::set<std::string>{"a.ppm", "b.ppm"}));
    std::vector<std::string> kept = others;
    kept.insert(kept.end(),
                {".a.ppm.1111111111111111.tmp", ".a.ppm.fedcba9876543210.tmp", live_name});
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(file_names_in(tree.output), kept);

    ASSERT_TRUE(commit_output_file(live));
    EXPECT_EQ(read_bytes(tree.output / "a.ppm"), "P6\n");
    // Once committed, nothing of it is left to remove.
    EXPECT_EQ(remove_abandoned_temporaries(tree.output.string(), belongs, started), 0U);
}

TEST(OutputFile, MemoryRunningOutWhileCreatingLeavesNothing) {
    // Every allocation of the creation fails in turn: each failure leaves no
    // file and the interruptions as they were.
    RunTree tree;
    const std::string final_path = (tree.output / "201907-246-114_discharge.dat").string();
    int failures = 0;
    for (long allowed = 0;; ++allowed) {
        bool created = false;
        {
            OutputFile file;
            allocations_before_failure = allowed;
            try {
                created = create_output_file(file, final_path, true);
            } catch (const std::bad_alloc&) {
                ++failures;
            }
            allocations_before_failure = -1;
            EXPECT_FALSE(interruptions_held()) << allowed;
        }
        EXPECT_TRUE(file_names_in(tree.output).empty()) << allowed;
        if (created) {
            break;
        }
        ASSERT_LT(allowed, 1000);
    }
    EXPECT_GT(failures, 0);
}

TEST(OutputFile, ReplacesAReadOnlyFileUnderItsName) {
    RunTree tree;
    const std::filesystem::path final_path = tree.output / "201907_   3_discharge.ppm";
    write_text(final_path, "an older image");
    std::filesystem::permissions(final_path, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
    OutputFile file;
    ASSERT_TRUE(create_output_file(file, final_path.string(), false));
#ifdef _WIN32
    // Hidden while it is written, like a POSIX name beginning with a dot.
    EXPECT_NE(GetFileAttributesA(file.temporary_path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0U);
#endif
    ASSERT_TRUE(write_output_file(file, "P6\n", 3));
    ASSERT_TRUE(commit_output_file(file));
    EXPECT_EQ(read_bytes(final_path), "P6\n");
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"201907_   3_discharge.ppm"});
#ifdef _WIN32
    EXPECT_EQ(GetFileAttributesA(final_path.string().c_str()) &
                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              0U);
#endif
}

#ifndef _WIN32
TEST(OutputFileDeathTest, InterruptionRemovesTheTemporariesOfEveryThread) {
    // Two outputs open at once on two threads, one of them replacing an
    // older file; the process is interrupted from a third.
    RunTree tree;
    const std::filesystem::path names[] = {tree.output / "201907_   1_discharge.ppm",
                                           tree.output / "201908_   1_discharge.ppm"};
    write_text(names[1], "an older image");
    EXPECT_EXIT(
        {
            install_interruption_cleanup();
            OutputFile outputs[2];
            std::latch open(2);
            std::vector<std::thread> threads;
            for (int i = 0; i < 2; ++i) {
                threads.emplace_back([&, i] {
                    if (create_output_file(outputs[i], names[i].string(), false)) {
                        write_output_file(outputs[i], "P6\n", 3);
                        open.count_down();
                    }
                    for (;;) {
                        pause();
                    }
                });
            }
            open.wait();
            kill(getpid(), SIGINT);
            for (;;) {
                pause();
            }
        },
        testing::KilledBySignal(SIGINT), "");
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"201908_   1_discharge.ppm"});
    EXPECT_EQ(read_bytes(names[1]), "an older image");
}
#endif

// A library (netCDF) that opens the temporary file by its name and writes it
// itself, as the C library creates a file: truncating it (on Windows
// CREATE_ALWAYS, refused on a hidden file or one whose handle does not share
// writing). The file stays held against other runs' cleanup meanwhile.
TEST(OutputFile, ALibraryWritesItByNameAndItIsStillHeld) {
    RunTree tree;
    const std::string final_path = (tree.output / "term.nc").string();
    OutputFile file;
    ASSERT_TRUE(create_library_output_file(file, final_path));
    std::FILE* library = std::fopen(file.temporary_path.c_str(), "wb");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(std::fwrite("CDF\x02", 1, 4, library), 4U);
    const auto later = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
    EXPECT_EQ(remove_abandoned_temporaries(
                  tree.output.string(), [](const std::string&) { return true; }, later),
              0U);
    EXPECT_EQ(std::fclose(library), 0);
    ASSERT_TRUE(commit_output_file(file));
    EXPECT_EQ(read_bytes(final_path), "CDF\x02");
    EXPECT_EQ(file_names_in(tree.output), std::vector<std::string>{"term.nc"});
}
