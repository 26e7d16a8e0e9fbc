// What the tests and the fuzz targets write and expect alike: a parameter
// file, discharge values as a monthly file stores them, and the programs'
// questions as they print them.
#ifndef DISCHARGE_TESTS_RUN_TEXTS_H
#define DISCHARGE_TESTS_RUN_TEXTS_H

#include <sstream>
#include <string>
#include <vector>

#include "run_input.h"

// A parameter file for a grid of ncols x nrows, term 2019 to 2020.
inline std::string parameter_text(int ncols, int nrows) {
    std::ostringstream text;
    text << "2\n"
         << ncols << ' ' << nrows << '\n'
         << "135.5 34.25\n"
         << "400 300\n"
         << "12 7\n"
         << "135.004166\n"
         << "34.0041666\n"
         << "3600\n"
         << "2019 2020 4 3\n";
    return text.str();
}

// The type of each of the sixteen values of param.dat, in file order: i a
// 32-bit integer, d a double, f a float.
inline constexpr const char* PARAMETER_FIELD_TYPES = "iiiddiiiiffiiiii";

// Values as a monthly discharge file stores them.
inline std::string encode_values(const std::vector<float>& values) {
    std::string bytes;
    for (const float value : values) {
        encode_discharge_value(value, bytes);
    }
    return bytes;
}

// The questions, each with its line ends.
inline const std::string MONTH_QUESTIONS = "Input year!\nInput month!\n";
inline const std::string COLUMN_QUESTION =
    "Input column number to extract data!\nColumn number begins from 1 from east.\n";
inline const std::string ROW_QUESTION =
    "Input row number to extract data!\nRow number begins from 1 from south.\n";
inline const std::string RANGE_QUESTION =
    "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n";
inline const std::string RANGE_PROMPTS = "Input maximum value : Input minimum value : ";
inline const std::string WRONG_VALUES = "Wrong values inputted!\n";

#endif  // DISCHARGE_TESTS_RUN_TEXTS_H
