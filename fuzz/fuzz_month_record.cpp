// Any bytes as the record beside a month's images: a record that parses
// reads back the same from the text it writes, and nothing else crashes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_tree.h"
#include "month_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<MonthRecord> record = parse_month_record(text, 31);
    if (!record) {
        return 0;
    }
    const std::string written = month_record_text(*record);
    const std::optional<MonthRecord> again = parse_month_record(written, 31);
    require(again.has_value(), "a record read back parses");
    require(*again == *record, "a record reads back the same");
    require(month_record_text(*again) == written, "a record writes the same text again");
    return 0;
}
