// Legends as files: the legend beside a month's images, and the `legend`
// subcommand, which draws one of a typed range.
#ifndef DISCHARGE_TERM_RUNNER_TERM_LEGEND_H
#define DISCHARGE_TERM_RUNNER_TERM_LEGEND_H

#include <iosfwd>
#include <string>

#include "failure.h"
#include "legend.h"
#include "output_names.h"

// Writes the legend of `range` in `palette` to `path` in `format`, whole or
// not at all. False with `failure` set if it could not be written.
bool write_legend_file(const std::string& path, ValueRange range, Palette palette,
                       ImageFormat format, Failure& failure);

// The format a legend named `path` is written in: PNG where the name ends in
// ".png" in any case (".PNG" too), else PPM.
ImageFormat legend_format_of(const std::string& path);

// Writes the legend of `range` in `palette` to `path` in
// legend_format_of(path). Returns the exit status: 0, or 1 after naming the
// file on `errors` if it could not be written.
int run_term_legend(ValueRange range, Palette palette, const std::string& path,
                    std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_LEGEND_H
