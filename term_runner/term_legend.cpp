#include "term_legend.h"

#include <algorithm>
#include <cctype>
#include <ostream>

#include "png_image.h"

bool write_legend_file(const std::string& path, ValueRange range, Palette palette,
                       ImageFormat format, Failure& failure) {
    const Picture legend = draw_legend(range, palette);
    std::string reason;
    bool written = false;
    if (format == ImageFormat::ppm) {
        written = write_picture(path, legend, reason);
    } else if (const std::optional<std::string> png = encode_png_picture(legend)) {
        written = write_whole_output(path, *png, false, reason);
    } else {
        reason = "zlib failed";
    }
    if (!written) {
        failure = {path, "Image output file cannot write.", reason};
    }
    return written;
}

ImageFormat legend_format_of(const std::string& path) {
    std::string end = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".png" ? ImageFormat::png : ImageFormat::ppm;
}

int run_term_legend(ValueRange range, Palette palette, const std::string& path,
                    std::ostream& errors) {
    Failure failure;
    if (!write_legend_file(path, range, palette, legend_format_of(path), failure)) {
        errors << failure_text(failure) << std::endl;
        return 1;
    }
    return 0;
}
