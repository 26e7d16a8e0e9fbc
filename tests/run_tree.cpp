#include "run_tree.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "run_input.h"

RunTree::RunTree() {
    // A directory of a random name that this test creates itself: another
    // test running at the same time never gets the same one.
    std::random_device random;
    for (int attempt = 0; root.empty(); ++attempt) {
        if (attempt == 100) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() /
            ("discharge-test-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            root = candidate;
        }
    }
    output = root / "output";
    std::filesystem::create_directory(output);
}

RunTree::~RunTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string parameter_echo(int ncols, int nrows, std::size_t values_read) {
    // Each line with the number of values read before it is printed: a step
    // echoes once all its values are in, headings before their step reads.
    const std::pair<std::size_t, std::string> lines[] = {
        {0, "Reading parameters for runoff simulation.\n"},
        {1, "  Topography scale : 2\n"},
        {3, "  Number of col : " + std::to_string(ncols) +
                "  Number of row : " + std::to_string(nrows) + "\n"},
        {5, " Sorth West corner Longitude (degree) : 135.5 Latitude (deg) : 34.25\n"},
        {5, "2) Reading parameters for input data.\n"},
        {7, "  Number of col : 400  Number of row : 300\n"},
        {9, "  Origin column number : 12 row number : 7\n"},
        {10, "  The longitude of the center of input grid at the southwest corner : 135.004\n"},
        {11, "  The latitude of the center of input grid at the southwest corner : 34.0042\n"},
        {12, "  time interval of input data [sec] : 3600\n"},
        {12, "3) Reading parameters for simuration term.\n"},
        {16, "  Start year : 2019  Start month : 4\n"},
        {16, "  End year : 2020  End month : 3\n"},
    };
    std::string echo;
    for (const auto& [needed, line] : lines) {
        if (needed <= values_read) {
            echo += line;
        }
    }
    return echo;
}

std::vector<std::string> tokens_of(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string joined(const std::vector<std::string>& tokens) {
    std::string text;
    for (const std::string& token : tokens) {
        text += token + "\n";
    }
    return text;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<float> counting_values(std::size_t n) {
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = static_cast<float>(i + 1);
    }
    return values;
}

std::vector<std::string> file_names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
