#include "output_names.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "failure.h"
#include "output_file.h"

#include "month_drawing.h"
#include "term_months.h"

const char* format_name(ImageFormat format) {
    return format == ImageFormat::png ? "png" : "ppm";
}

MonthOutputNames month_output_names(YearMonth month, ImageFormat format) {
    const std::string label = month_label(month);
    const std::string folder = std::string(IMAGE_FOLDER) + "/";
    MonthOutputNames names;
    for (std::int32_t day = 1; day <= days_in_month(month.month); ++day) {
        // discharge_image's name, with the format's extension.
        std::string name = image_file_name(month.year, month.month, day);
        names.images.push_back(name.replace(name.size() - 3, 3, format_name(format)));
        if (format == ImageFormat::png) {
            names.world_files.push_back(name.substr(0, name.size() - 3) + "pgw");
            names.aux_files.push_back(name + ".aux.xml");
        }
    }
    names.legend = folder + "legend_" + label + "." + format_name(format);
    names.record = folder + label + "_range.txt";
    names.lock = folder + "." + label + ".lock";
    return names;
}

bool is_output_of(YearMonth month, const std::string& name) {
    const std::string path = std::string(IMAGE_FOLDER) + "/" + name;
    for (const ImageFormat format : {ImageFormat::ppm, ImageFormat::png}) {
        const MonthOutputNames names = month_output_names(month, format);
        for (const auto* files : {&names.images, &names.world_files, &names.aux_files}) {
            if (std::find(files->begin(), files->end(), path) != files->end()) {
                return true;
            }
        }
        if (path == names.legend || path == names.record) {
            return true;
        }
    }
    return false;
}

bool ready_output_folder(const char* folder, const char* kind, std::ostream& errors) {
    std::string reason;
    if (!make_output_folder(folder, reason)) {
        errors << failure_text({folder, std::string(kind) + " output file cannot open.", reason})
               << std::endl;
        return false;
    }
    if (!folder_writable(folder, reason)) {
        errors << failure_text(
                      {folder, std::string(kind) + " output folder cannot be written.", reason})
               << std::endl;
        return false;
    }
    return true;
}

std::string view_file(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string month_script_name(const std::string& folder, YearMonth month) {
    return view_file(folder, std::string(VIEW_DATA_FOLDER) + "/" + month_label(month) + ".js");
}

std::string term_series_stem(YearMonth first, YearMonth last, GridCell cell) {
    char name[128];
    std::snprintf(name, sizeof name, "./%04d%02d-%04d%02d-%d-%d_discharge",
                  static_cast<int>(first.year), static_cast<int>(first.month),
                  static_cast<int>(last.year), static_cast<int>(last.month),
                  static_cast<int>(cell.column), static_cast<int>(cell.row));
    return name;
}

std::string netcdf_file_name(YearMonth first, YearMonth last) {
    return "./" + month_label(first) + "-" + month_label(last) + "_discharge.nc";
}

std::string animation_file_name(YearMonth first, YearMonth last) {
    return "./" + month_label(first) + "-" + month_label(last) + "_discharge.gif";
}

bool names_an_input(const std::string& output, const TermSelection& selection, const char* what,
                    std::ostream& errors) {
    std::vector<std::string> inputs = {RUN_PARAMETER_PATH};
    for (const YearMonth month : selection.months) {
        inputs.push_back(discharge_file_name(month.year, month.month));
    }
    const bool monthly_name =
        std::filesystem::path(output).filename().string().ends_with("_dailyDischarge.bin");
    std::error_code error;
    const bool input =
        monthly_name || std::any_of(inputs.begin(), inputs.end(), [&](const std::string& name) {
            return std::filesystem::equivalent(output, name, error);
        });
    if (input) {
        errors << "discharge_term: --output " << output
               << " names an input of the simulation run, which the " << what << " would replace."
               << std::endl;
    }
    return input;
}

void remove_output_leftovers(const std::string& output) {
    const std::filesystem::path output_path(output);
    const std::string folder =
        output_path.has_parent_path() ? output_path.parent_path().string() : std::string(".");
    const std::string output_name = output_path.filename().string();
    remove_abandoned_temporaries(
        folder, [&output_name](const std::string& name) { return name == output_name; },
        std::filesystem::file_time_type::clock::now());
}
