#include "world_file.h"

#include <charconv>

const char* const WGS84_WKT =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
    "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
    "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\","
    "\"9122\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";

namespace {

std::string number_line(double value) {
    char text[32];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text, value == 0.0 ? 0.0 : value);
    return std::string(text, written.ptr) + "\n";
}

}  // namespace

std::string world_file_text(const FramePlacement& placement) {
    const double pixel = placement.cell_size / static_cast<double>(placement.scale);
    const double north = placement.south + placement.cell_size * placement.nrows;
    // The top-left pixel is the band's where there is one: above the map,
    // placed as though the map went on north.
    const double top = north + pixel * placement.band_rows;
    return number_line(pixel) + number_line(0.0) + number_line(0.0) + number_line(-pixel) +
           number_line(placement.west + pixel / 2) + number_line(top - pixel / 2);
}

std::string aux_xml_text() {
    // dataAxisToSRSAxisMapping: the frame's first axis is the longitude,
    // where the system's first is the latitude.
    return std::string("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"2,1\">") + WGS84_WKT +
           "</SRS>\n</PAMDataset>\n";
}
