#include "output_file.h"

#include <gtest/gtest.h>

#include "run_tree.h"

namespace {

std::vector<std::string> files_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

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
    EXPECT_EQ(files_in(tree.output), std::vector<std::string>{"201907_   3_discharge.ppm"});
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

        OutputFile abandoned;
        ASSERT_TRUE(create_output_file(abandoned, final_path, true));
        OutputFile another_run;  // of the same output at once: a file of its own
        ASSERT_TRUE(create_output_file(another_run, final_path, true));
        EXPECT_NE(another_run.temporary_path, abandoned.temporary_path);
    }
    EXPECT_TRUE(files_in(tree.output).empty());
}

TEST(OutputFile, CannotBeCreatedWhereNoFileCanBe) {
    RunTree tree;
    std::filesystem::create_directory(tree.output / "taken_discharge.dat");
    write_text(tree.output / "image", "a file, not a folder");
    const std::filesystem::path places[] = {
        tree.output / "taken_discharge.dat",  // a directory has the name
        tree.output / "missing" / "x.ppm",    // no such folder
        tree.output / "image" / "x.ppm",      // the folder is a file
    };
    for (const auto& place : places) {
        OutputFile file;
        EXPECT_FALSE(create_output_file(file, place.string(), false)) << place;
    }
    EXPECT_EQ(files_in(tree.output), (std::vector<std::string>{"image", "taken_discharge.dat"}));
}
