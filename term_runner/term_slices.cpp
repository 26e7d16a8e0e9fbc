#include "term_slices.h"

#include <algorithm>
#include <ostream>

#include "term_months.h"
#include "term_range.h"

std::vector<MonthSlice> slice_months(const std::vector<YearMonth>& months, std::uint32_t size) {
    std::vector<MonthSlice> slices;
    for (std::size_t first = 0; first < months.size(); first += size) {
        const std::size_t last = std::min<std::size_t>(first + size, months.size()) - 1;
        slices.push_back({months[first], months[last]});
    }
    return slices;
}

int run_term_slices(const std::string& from, const std::string& to, std::uint32_t size,
                    std::ostream& out, std::ostream& errors) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    for (const MonthSlice& slice : slice_months(selection->months, size)) {
        out << dashed(slice.first) << ' ' << dashed(slice.last) << '\n';
    }
    return output_written(out, errors) ? 0 : 1;
}
