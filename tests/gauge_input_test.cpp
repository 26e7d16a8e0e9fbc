#include "gauge_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Lines = std::vector<std::vector<std::string>>;

// A failure that a file's text must give.
struct Failure {
    const char* name;  // what the case is about
    std::string text;
    std::int64_t line;
    std::int64_t column;
    std::string what;
};

// `expected` as `error` should be, compared field by field.
void expect_error(const Failure& expected, const InputError& error) {
    EXPECT_EQ(error.line, expected.line);
    EXPECT_EQ(error.column, expected.column);
    EXPECT_EQ(error.what, expected.what);
}

// The message for `shown` (as it is quoted) that is not a column number.
// (Built by appending: GCC 12 warns falsely about "\"" + std::string.)
std::string not_a_column(std::string shown) {
    shown.insert(0, 1, '"');
    shown.append("\" is not a column number (a whole number from 1)");
    return shown;
}

// The gauges of `text`, which must read.
std::vector<Gauge> gauges_of(std::string_view text) {
    InputError error;
    const std::optional<std::vector<Gauge>> gauges = parse_gauges(text, error);
    EXPECT_TRUE(gauges) << "line " << error.line << ", column " << error.column << ": "
                        << error.what;
    return gauges.value_or(std::vector<Gauge>{});
}

// The observations of `text`, which must read.
Observations observations_of(std::string_view text) {
    InputError error;
    const std::optional<Observations> observations = parse_observations(text, error);
    EXPECT_TRUE(observations) << "line " << error.line << ", column " << error.column << ": "
                              << error.what;
    return observations.value_or(Observations{});
}

// The values of one day, which must be there.
std::vector<double> day_values(const Observations& observations, Date date) {
    const auto found = observations.values.find(date);
    EXPECT_NE(found, observations.values.end())
        << date.year << '-' << date.month << '-' << date.day;
    return found == observations.values.end() ? std::vector<double>{} : found->second;
}

// ---------------------------------------------------------------------------
// parse_csv

TEST(GaugeInputCsv, SplitsFieldsAndLines) {
    InputError error;
    EXPECT_EQ(parse_csv("a,b,c\n1,,3\n", error), (Lines{{"a", "b", "c"}, {"1", "", "3"}}));
    EXPECT_EQ(parse_csv("a,b", error), (Lines{{"a", "b"}}));  // no line end at the end
    EXPECT_EQ(parse_csv("a,\n", error), (Lines{{"a", ""}}));  // an empty last field
    EXPECT_EQ(parse_csv("", error), Lines{});
}

TEST(GaugeInputCsv, KeepsFieldsAsWritten) {
    InputError error;
    EXPECT_EQ(parse_csv(" a , b\t\n", error), (Lines{{" a ", " b\t"}}));
    // A quote inside an unquoted field is an ordinary character.
    EXPECT_EQ(parse_csv("ab\"c,d\n", error), (Lines{{"ab\"c", "d"}}));
}

TEST(GaugeInputCsv, LineEnds) {
    InputError error;
    const Lines expected{{"a", "b"}, {"1", "2"}};
    EXPECT_EQ(parse_csv("a,b\n1,2\n", error), expected);
    EXPECT_EQ(parse_csv("a,b\r\n1,2\r\n", error), expected);
    EXPECT_EQ(parse_csv("a,b\r\n1,2", error), expected);
    EXPECT_EQ(parse_csv("a,b\r1,2\r", error), expected);            // a lone CR
    EXPECT_EQ(parse_csv("a,b\n1,2\n\n\r\n  \n", error), expected);  // empty lines at the end
    EXPECT_EQ(parse_csv("\na,b\n\n1,2", error), expected);          // and elsewhere
}

TEST(GaugeInputCsv, SkipsByteOrderMarkAtTheStartOnly) {
    InputError error;
    EXPECT_EQ(parse_csv("\xEF\xBB\xBF"
                        "a,b\n",
                        error),
              (Lines{{"a", "b"}}));
    EXPECT_EQ(parse_csv("a,\xEF\xBB\xBF"
                        "b\n",
                        error),
              (Lines{{"a",
                      "\xEF\xBB\xBF"
                      "b"}}));
}

TEST(GaugeInputCsv, QuotedFields) {
    InputError error;
    EXPECT_EQ(parse_csv("\"a,b\",c\n", error), (Lines{{"a,b", "c"}}));
    EXPECT_EQ(parse_csv("\"he said \"\"hi\"\"\"\n", error), (Lines{{"he said \"hi\""}}));
    EXPECT_EQ(parse_csv("\"\",x\n", error), (Lines{{"", "x"}}));
    EXPECT_EQ(parse_csv("x,\"\"\r\n", error), (Lines{{"x", ""}}));
    EXPECT_EQ(parse_csv("\"last\"", error), (Lines{{"last"}}));
    // A line end inside quotes belongs to the field: the record spans lines.
    EXPECT_EQ(parse_csv("a,\"two\nlines\",b\nc\n", error),
              (Lines{{"a", "two\nlines", "b"}, {"c"}}));
    EXPECT_EQ(parse_csv("\"x\r\ny\"\r\n", error), (Lines{{"x\r\ny"}}));
}

TEST(GaugeInputCsv, MalformedQuotes) {
    const Failure failures[] = {
        {"unclosed", "a,b\n1,\"2\n3\n", 2, 2, "the quote that opens this field is not closed"},
        {"unclosed at once", "\"", 1, 1, "the quote that opens this field is not closed"},
        {"doubled quote at the end", "a,\"b\"\"\n", 1, 2,
         "the quote that opens this field is not closed"},
        {"text after the quote", "a,\"b\"c,d\n", 1, 2,
         "text after the closing quote of a field (a quote inside a quoted field is written "
         "\"\")"},
        {"after a field of two lines", "x\n\"a\nb\" ,c\n", 3, 1,
         "text after the closing quote of a field (a quote inside a quoted field is written "
         "\"\")"},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.name);
        InputError error;
        EXPECT_FALSE(parse_csv(failure.text, error));
        expect_error(failure, error);
    }
}

// ---------------------------------------------------------------------------
// parse_gauges

TEST(GaugeInputGauges, ReadsGaugesInTheFilesOrder) {
    const std::vector<Gauge> gauges = gauges_of("id,column,row\nB2,10,20\nA1,1,2\n");
    ASSERT_EQ(gauges.size(), 2u);
    EXPECT_EQ(gauges[0].id, "B2");
    EXPECT_EQ(gauges[0].cell.column, 10);
    EXPECT_EQ(gauges[0].cell.row, 20);
    EXPECT_EQ(gauges[1].id, "A1");
    EXPECT_EQ(gauges[1].cell.column, 1);
    EXPECT_EQ(gauges[1].cell.row, 2);
}

TEST(GaugeInputGauges, ColumnsInAnyOrderOthersIgnored) {
    const std::vector<Gauge> gauges =
        gauges_of("name,row,river,id,column\n\"Köln, Rhein\",7,Rhein,K1,3\n");
    ASSERT_EQ(gauges.size(), 1u);
    EXPECT_EQ(gauges[0].id, "K1");
    EXPECT_EQ(gauges[0].cell.column, 3);
    EXPECT_EQ(gauges[0].cell.row, 7);
}

TEST(GaugeInputGauges, ByteOrderMarkCrLfAndNoLastLineEnd) {
    const std::vector<Gauge> gauges = gauges_of(
        "\xEF\xBB\xBF"
        "id,column,row\r\nA,1,2\r\nB,3,4");
    ASSERT_EQ(gauges.size(), 2u);
    EXPECT_EQ(gauges[0].id, "A");
    EXPECT_EQ(gauges[1].id, "B");
    EXPECT_EQ(gauges[1].cell.row, 4);
}

TEST(GaugeInputGauges, SpacesAroundFieldsAreIgnored) {
    const std::vector<Gauge> gauges = gauges_of(" id , column ,row\t\n  A1 , 5 ,\t6 \n\n \n");
    ASSERT_EQ(gauges.size(), 1u);
    EXPECT_EQ(gauges[0].id, "A1");
    EXPECT_EQ(gauges[0].cell.column, 5);
    EXPECT_EQ(gauges[0].cell.row, 6);
}

TEST(GaugeInputGauges, QuotedAndNonAsciiIds) {
    const std::vector<Gauge> gauges = gauges_of(
        "id,column,row\n\"a,b\",1,1\n\"he said \"\"hi\"\"\",2,2\nDüsseldorf,3,3\n"
        "\"two\nlines\",4,4\n\"7\",\"8\",\"9\"\n");
    ASSERT_EQ(gauges.size(), 5u);
    EXPECT_EQ(gauges[0].id, "a,b");
    EXPECT_EQ(gauges[1].id, "he said \"hi\"");
    EXPECT_EQ(gauges[2].id, "Düsseldorf");
    EXPECT_EQ(gauges[3].id, "two\nlines");
    EXPECT_EQ(gauges[4].id, "7");
    EXPECT_EQ(gauges[4].cell.column, 8);
    EXPECT_EQ(gauges[4].cell.row, 9);
}

TEST(GaugeInputGauges, LargestCellAndLeadingZeros) {
    const std::vector<Gauge> gauges = gauges_of("id,column,row\nA,2147483647,007\n");
    ASSERT_EQ(gauges.size(), 1u);
    EXPECT_EQ(gauges[0].cell.column, 2147483647);
    EXPECT_EQ(gauges[0].cell.row, 7);
}

TEST(GaugeInputGauges, HeaderOnlyGivesNoGauges) {
    EXPECT_TRUE(gauges_of("id,column,row\n").empty());
    EXPECT_TRUE(gauges_of("id,column,row").empty());
}

// The header that the failing lines below follow.
const std::string GAUGES_HEADER = "id,column,row\n";

// Texts of GAUGES.csv that fail, each with its place and message.
const Failure GAUGE_FAILURES[] = {
    {"empty file", "", 0, 0, "the file is empty: it has no header line"},
    {"blank lines only", "\n \r\n", 0, 0, "the file is empty: it has no header line"},
    {"byte order mark only", "\xEF\xBB\xBF", 0, 0, "the file is empty: it has no header line"},
    {"no id", "name,column,row\n", 1, 0, "no column \"id\" in the header"},
    {"no column", "id,col,row\n", 1, 0, "no column \"column\" in the header"},
    {"no row", "\nid,column\n", 2, 0, "no column \"row\" in the header"},
    {"names match with case", "ID,column,row\n", 1, 0, "no column \"id\" in the header"},
    {"a needed column twice", "id,column,row,column\n", 1, 4,
     "the column \"column\" is given twice (first in column 2)"},
    {"too few fields", GAUGES_HEADER + "A,1\n", 2, 0, "2 fields, where the header has 3"},
    {"one field", GAUGES_HEADER + "A\n", 2, 0, "1 field, where the header has 3"},
    {"too many fields", GAUGES_HEADER + "A,1,2,\n", 2, 0, "4 fields, where the header has 3"},
    {"decimal comma", GAUGES_HEADER + "A,1,2,5\n", 2, 0, "4 fields, where the header has 3"},
    {"empty id", GAUGES_HEADER + "A,1,1\n ,2,2\n", 3, 1, "the id is empty"},
    {"duplicate id", GAUGES_HEADER + "A1,1,1\nB,2,2\nA1,3,3\n", 4, 1,
     "the id \"A1\" is given twice (first on line 2)"},
    {"duplicate id with spaces", GAUGES_HEADER + "A1,1,1\n A1 ,3,3\n", 3, 1,
     "the id \"A1\" is given twice (first on line 2)"},
    {"duplicate after a field of two lines", GAUGES_HEADER + "\"x\ny\",1,1\nx,2,2\n\"x\ny\",3,3\n",
     5, 1, "the id \"x\\x0Ay\" is given twice (first on line 2)"},
    {"column not a number", GAUGES_HEADER + "A,x,1\n", 2, 2,
     "\"x\" is not a column number (a whole number from 1)"},
    {"row not a number", GAUGES_HEADER + "A,1,x\n", 2, 3,
     "\"x\" is not a row number (a whole number from 1)"},
    {"column 0", GAUGES_HEADER + "A,0,1\n", 2, 2,
     "\"0\" is not a column number (a whole number from 1)"},
    {"negative row", GAUGES_HEADER + "A,1,-3\n", 2, 3,
     "\"-3\" is not a row number (a whole number from 1)"},
    {"plus sign", GAUGES_HEADER + "A,+3,1\n", 2, 2,
     "\"+3\" is not a column number (a whole number from 1)"},
    {"decimals", GAUGES_HEADER + "A,1.0,1\n", 2, 2,
     "\"1.0\" is not a column number (a whole number from 1)"},
    {"exponent", GAUGES_HEADER + "A,1e2,1\n", 2, 2,
     "\"1e2\" is not a column number (a whole number from 1)"},
    {"empty column", GAUGES_HEADER + "A,,1\n", 2, 2,
     "\"\" is not a column number (a whole number from 1)"},
    {"space inside", GAUGES_HEADER + "A,1 2,1\n", 2, 2,
     "\"1 2\" is not a column number (a whole number from 1)"},
    {"huge column", GAUGES_HEADER + "A,99999999999999999999,1\n", 2, 2,
     "\"99999999999999999999\" is too large for a column number (at most 2147483647)"},
    {"just too large row", GAUGES_HEADER + "A,1,2147483648\n", 2, 3,
     "\"2147483648\" is too large for a row number (at most 2147483647)"},
    {"huge negative", GAUGES_HEADER + "A,-99999999999999999999,1\n", 2, 2,
     "\"-99999999999999999999\" is not a column number (a whole number from 1)"},
    {"error on a record's first line", GAUGES_HEADER + "\"a\nb\",1,x\n", 2, 3,
     "\"x\" is not a row number (a whole number from 1)"},
    {"control bytes quoted", GAUGES_HEADER + "A,\"\t\x01\",1\n", 2, 2,
     "\"\\x09\\x01\" is not a column number (a whole number from 1)"},
    {"quote and backslash quoted", GAUGES_HEADER + "A,\"a\"\"\\\",1\n", 2, 2,
     "\"a\\\"\\\\\" is not a column number (a whole number from 1)"},
    {"long text cut", GAUGES_HEADER + "A," + std::string(50, '7') + "x,1\n", 2, 2,
     not_a_column(std::string(40, '7') + "...")},
    {"long text cut before a character", GAUGES_HEADER + "A," + std::string(39, 'x') + "é,1\n", 2,
     2, not_a_column(std::string(39, 'x') + "...")},
    {"forty bytes are not cut", GAUGES_HEADER + "A," + std::string(40, 'x') + ",1\n", 2, 2,
     not_a_column(std::string(40, 'x'))},
    {"unclosed quote", GAUGES_HEADER + "\"A,1,1\n", 2, 1,
     "the quote that opens this field is not closed"},
};

TEST(GaugeInputGauges, Errors) {
    for (const Failure& failure : GAUGE_FAILURES) {
        SCOPED_TRACE(failure.name);
        InputError error;
        EXPECT_FALSE(parse_gauges(failure.text, error));
        expect_error(failure, error);
    }
}

// ---------------------------------------------------------------------------
// parse_date

TEST(GaugeInputDate, ValidDates) {
    EXPECT_EQ(parse_date("2019-07-03"), (Date{2019, 7, 3}));
    EXPECT_EQ(parse_date("2019-12-31"), (Date{2019, 12, 31}));
    EXPECT_EQ(parse_date("2019-04-30"), (Date{2019, 4, 30}));
    EXPECT_EQ(parse_date("2020-02-29"), (Date{2020, 2, 29}));  // divisible by 4
    EXPECT_EQ(parse_date("2000-02-29"), (Date{2000, 2, 29}));  // by 400
    EXPECT_EQ(parse_date("0001-01-01"), (Date{1, 1, 1}));
    EXPECT_EQ(parse_date("9999-12-31"), (Date{9999, 12, 31}));
}

TEST(GaugeInputDate, InvalidDates) {
    const char* const texts[] = {
        "2019-02-29", "1900-02-29",  // not leap years (1900: by 100, not by 400)
        "2019-02-30", "2019-04-31", "2019-13-01", "2019-00-10",       "2019-01-00",  "2019-01-32",
        "0000-01-01",  // no year 0
        "2019-7-3",   "19-07-03",   "2019/07/03", "2019-07-03T00:00", " 2019-07-03", "2019-07-03 ",
        "20190703",   "",           "2019-0a-03", "+019-07-03",       "2019-07-+3",  "03.07.2019",
    };
    for (const char* text : texts) {
        EXPECT_FALSE(parse_date(text)) << text;
    }
}

TEST(GaugeInputDate, DatesOrderByDay) {
    EXPECT_LT((Date{2019, 12, 31}), (Date{2020, 1, 1}));
    EXPECT_LT((Date{2020, 1, 31}), (Date{2020, 2, 1}));
    EXPECT_LT((Date{2020, 2, 1}), (Date{2020, 2, 2}));
}

// ---------------------------------------------------------------------------
// parse_observations

TEST(GaugeInputObserved, ReadsValuesByDate) {
    const Observations observations =
        observations_of("date,A1,B2\n2019-01-02,1.5,2\n2019-01-01,12.5,1e3\n");
    EXPECT_EQ(observations.ids, (std::vector<std::string>{"A1", "B2"}));
    ASSERT_EQ(observations.values.size(), 2u);
    EXPECT_EQ(observations.values.begin()->first, (Date{2019, 1, 1}));  // ordered by date
    EXPECT_EQ(day_values(observations, {2019, 1, 1}), (std::vector<double>{12.5, 1000.0}));
    EXPECT_EQ(day_values(observations, {2019, 1, 2}), (std::vector<double>{1.5, 2.0}));
}

TEST(GaugeInputObserved, MissingValues) {
    const Observations observations = observations_of(
        "date,a,b,c,d,e,f,g\n2019-01-01,,nan,NaN,NA,-1,-999, \n2019-01-02,-0,0,-0.0,0.0,1E-3,"
        ".5,5.\n");
    const std::vector<double> missing = day_values(observations, {2019, 1, 1});
    ASSERT_EQ(missing.size(), 7u);
    for (const double value : missing) {
        EXPECT_TRUE(std::isnan(value)) << value;
    }
    const std::vector<double> present = day_values(observations, {2019, 1, 2});
    EXPECT_EQ(present, (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.001, 0.5, 5.0}));
    EXPECT_FALSE(std::signbit(present[0]));  // -0 is stored as 0
    EXPECT_FALSE(std::signbit(present[2]));
}

TEST(GaugeInputObserved, SpacesAroundNumbersDatesAndNames) {
    const Observations observations =
        observations_of(" date , A1 \n 2019-01-01 , 3.25\t\n2019-01-02,\" 4 \"\n");
    EXPECT_EQ(observations.ids, (std::vector<std::string>{"A1"}));
    EXPECT_EQ(day_values(observations, {2019, 1, 1}), (std::vector<double>{3.25}));
    EXPECT_EQ(day_values(observations, {2019, 1, 2}), (std::vector<double>{4.0}));
}

TEST(GaugeInputObserved, ByteOrderMarkCrLfEmptyLinesAndNoLastLineEnd) {
    const Observations crlf = observations_of(
        "\xEF\xBB\xBF"
        "date,A\r\n2019-01-01,1\r\n2019-01-02,2\r\n\r\n\r\n");
    EXPECT_EQ(crlf.ids, (std::vector<std::string>{"A"}));
    EXPECT_EQ(crlf.values.size(), 2u);
    const Observations no_end = observations_of("date,A\n2019-01-01,1\n2019-01-02,2");
    EXPECT_EQ(day_values(no_end, {2019, 1, 2}), (std::vector<double>{2.0}));
}

TEST(GaugeInputObserved, HeaderOnly) {
    const Observations observations = observations_of("date,A1,B2\n");
    EXPECT_EQ(observations.ids, (std::vector<std::string>{"A1", "B2"}));
    EXPECT_TRUE(observations.values.empty());
    // Nothing but dates: no gauge's column, yet a file that reads.
    const Observations dates = observations_of("date\n2019-01-01\n");
    EXPECT_TRUE(dates.ids.empty());
    EXPECT_EQ(day_values(dates, {2019, 1, 1}), std::vector<double>{});
}

TEST(GaugeInputObserved, EveryColumnIsKeptWhateverItsId) {
    // The caller matches the ids with the gauges and names the unknown ones.
    const Observations observations =
        observations_of("date,\"a,b\",Köln,\"he said \"\"hi\"\"\",unknown\n2019-01-01,1,2,3,4\n");
    EXPECT_EQ(observations.ids,
              (std::vector<std::string>{"a,b", "Köln", "he said \"hi\"", "unknown"}));
    EXPECT_EQ(day_values(observations, {2019, 1, 1}), (std::vector<double>{1, 2, 3, 4}));
}

// The header that the failing lines below follow.
const std::string OBSERVED_HEADER = "date,A1,B2\n";

// Texts of OBSERVED.csv that fail, each with its place and message.
const Failure OBSERVED_FAILURES[] = {
    {"empty file", "", 0, 0, "the file is empty: it has no header line"},
    {"no date column", "A1,B2\n", 1, 1, "the first column is \"A1\", where \"date\" is expected"},
    {"unnamed index", ",A1\n", 1, 1, "the first column is \"\", where \"date\" is expected"},
    {"names match with case", "Date,A1\n", 1, 1,
     "the first column is \"Date\", where \"date\" is expected"},
    {"duplicate column", "date,A1,B2,A1\n", 1, 4,
     "the column \"A1\" is given twice (first in column 2)"},
    {"duplicate column with spaces", "date,A1, A1\n", 1, 3,
     "the column \"A1\" is given twice (first in column 2)"},
    {"column without a name", "date,A1,,B2\n", 1, 3, "a column without a name (the id of a gauge)"},
    {"too few fields", OBSERVED_HEADER + "2019-01-01,1\n", 2, 0,
     "2 fields, where the header has 3"},
    {"too many fields", OBSERVED_HEADER + "2019-01-01,1,2,3\n", 2, 0,
     "4 fields, where the header has 3"},
    {"decimal commas", OBSERVED_HEADER + "2019-01-01,1,5,2,5\n", 2, 0,
     "5 fields, where the header has 3"},
    {"invalid day", OBSERVED_HEADER + "2019-02-30,1,2\n", 2, 1,
     "\"2019-02-30\" is not a date (YYYY-MM-DD)"},
    {"not a leap year", OBSERVED_HEADER + "2019-02-29,1,2\n", 2, 1,
     "\"2019-02-29\" is not a date (YYYY-MM-DD)"},
    {"other format", OBSERVED_HEADER + "03.07.2019,1,2\n", 2, 1,
     "\"03.07.2019\" is not a date (YYYY-MM-DD)"},
    {"time of day", OBSERVED_HEADER + "2019-07-03 00:00:00,1,2\n", 2, 1,
     "\"2019-07-03 00:00:00\" is not a date (YYYY-MM-DD)"},
    {"empty date", OBSERVED_HEADER + ",1,2\n", 2, 1, "\"\" is not a date (YYYY-MM-DD)"},
    {"repeated date", OBSERVED_HEADER + "2019-07-03,1,2\n2019-07-04,1,2\n2019-07-03,1,2\n", 4, 1,
     "the date 2019-07-03 is given twice (first on line 2)"},
    {"repeated date before a bad value", OBSERVED_HEADER + "2019-07-03,1,2\n2019-07-03,x,2\n", 3, 1,
     "the date 2019-07-03 is given twice (first on line 2)"},
    {"quoted decimal comma", OBSERVED_HEADER + "2019-01-01,\"1,5\",2\n", 2, 2,
     "\"1,5\" is not a number"},
    {"text", OBSERVED_HEADER + "2019-01-01,1,abc\n", 2, 3, "\"abc\" is not a number"},
    {"inf", OBSERVED_HEADER + "2019-01-01,inf,2\n", 2, 2, "\"inf\" is not a number"},
    {"negative inf", OBSERVED_HEADER + "2019-01-01,-inf,2\n", 2, 2, "\"-inf\" is not a number"},
    {"infinity", OBSERVED_HEADER + "2019-01-01,1,Infinity\n", 2, 3, "\"Infinity\" is not a number"},
    {"other nan", OBSERVED_HEADER + "2019-01-01,NAN,2\n", 2, 2, "\"NAN\" is not a number"},
    {"nan with a payload", OBSERVED_HEADER + "2019-01-01,nan(1),2\n", 2, 2,
     "\"nan(1)\" is not a number"},
    {"plus sign", OBSERVED_HEADER + "2019-01-01,+1,2\n", 2, 2, "\"+1\" is not a number"},
    {"hexadecimal", OBSERVED_HEADER + "2019-01-01,0x10,2\n", 2, 2, "\"0x10\" is not a number"},
    {"unit after the number", OBSERVED_HEADER + "2019-01-01,12 m3/s,2\n", 2, 2,
     "\"12 m3/s\" is not a number"},
    {"too large", OBSERVED_HEADER + "2019-01-01,1e400,2\n", 2, 2,
     "\"1e400\" is a number out of range"},
    {"lines of a quoted field", "date,\"A\n1\",B2\n2019-01-01,1,2\n2019-01-02,x,3\n", 4, 2,
     "\"x\" is not a number"},
    {"line end inside a number", OBSERVED_HEADER + "2019-01-01,\"1\n2\",3\n", 2, 2,
     "\"1\\x0A2\" is not a number"},
    {"blank lines counted", OBSERVED_HEADER + "\n\n2019-01-01,1,x\n", 4, 3,
     "\"x\" is not a number"},
    {"crlf", "date,A1\r\n2019-01-01,1\r\n2019-01-02,?\r\n", 3, 2, "\"?\" is not a number"},
    {"text after a closing quote", OBSERVED_HEADER + "2019-01-01,\"1\"2,3\n", 2, 2,
     "text after the closing quote of a field (a quote inside a quoted field is written "
     "\"\")"},
};

TEST(GaugeInputObserved, Errors) {
    for (const Failure& failure : OBSERVED_FAILURES) {
        SCOPED_TRACE(failure.name);
        InputError error;
        EXPECT_FALSE(parse_observations(failure.text, error));
        expect_error(failure, error);
    }
}

// ---------------------------------------------------------------------------
// gauge_file_stem

TEST(GaugeInputFileStem, Names) {
    const std::pair<const char*, const char*> stems[] = {
        {"A1", "A1"},
        {"rhine-basel_2", "rhine-basel_2"},
        {"<a&b>", "%3Ca%26b%3E"},
        {"../x", "%2E%2E%2Fx"},
        {"a/b", "a%2Fb"},
        {"a\\b", "a%5Cb"},
        {".hidden", "%2Ehidden"},
        {"a b", "a%20b"},
        {"100%", "100%25"},
        {"é", "%C3%A9"},
        {"\x7F\x01", "%7F%01"},
        {"", "_"},
        // The names that Windows reserves, in any case, with an extension too.
        {"CON", "_CON"},
        {"con", "_con"},
        {"con.txt", "_con%2Etxt"},
        {"Prn", "_Prn"},
        {"aux", "_aux"},
        {"NUL.tar.gz", "_NUL%2Etar%2Egz"},
        {"COM1", "_COM1"},
        {"Lpt9", "_Lpt9"},
        {"lpt5.csv", "_lpt5%2Ecsv"},
        // Not reserved.
        {"COM0", "COM0"},
        {"LPT10", "LPT10"},
        {"CONSOLE", "CONSOLE"},
        {"ACON", "ACON"},
        {"CON_", "CON_"},
        {"CON-1", "CON-1"},
        {"CON ", "CON%20"},
        {"_CON", "_CON"},
    };
    for (const auto& [id, stem] : stems) {
        EXPECT_EQ(gauge_file_stem(id), stem) << id;
    }
}

TEST(GaugeInputFileStem, StemsHoldOnlySafeBytes) {
    // Every byte alone: the stem is never empty, and holds only letters,
    // digits, '-', '_' and '%' (so no separator, no leading dot).
    for (int byte = 0; byte < 256; ++byte) {
        const std::string id(1, static_cast<char>(byte));
        const std::string stem = gauge_file_stem(id);
        ASSERT_FALSE(stem.empty());
        EXPECT_NE(stem.front(), '.');
        for (const char c : stem) {
            const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '%';
            EXPECT_TRUE(safe) << byte;
        }
    }
    // Distinct ids, distinct stems.
    EXPECT_NE(gauge_file_stem("a%2Fb"), gauge_file_stem("a/b"));
}

}  // namespace
