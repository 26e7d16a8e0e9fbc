#include "term_view.h"

#include <gtest/gtest.h>

TEST(Base64, TheStandardsVectorsAndEveryByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xff\xfe", 3), "AP/+"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(base64(bytes), text) << text;
    }
}

TEST(ViewPage, ItsFilesAreBuiltIn) {
    for (const PageFile& file : VIEW_PAGE_FILES) {
        EXPECT_GT(file.bytes.size(), 500U) << file.name;
    }
    EXPECT_TRUE(VIEW_PAGE_FILES[0].bytes.starts_with("<!DOCTYPE html>"));
    EXPECT_NE(VIEW_PAGE_FILES[0].bytes.find("<script src=\"data/term.js\"></script>"),
              std::string_view::npos);
}
