#include "month_drawing.h"

#include <gtest/gtest.h>

TEST(ImageFileName, DayRightAlignedInFourCharacters) {
    EXPECT_EQ(image_file_name(2019, 7, 7), "./image/201907_   7_discharge.ppm");
    EXPECT_EQ(image_file_name(2019, 7, 31), "./image/201907_  31_discharge.ppm");
    EXPECT_EQ(image_file_name(999, 2, 1), "./image/099902_   1_discharge.ppm");
}
