// Where a frame lies on the globe, for GIS tools: beside a PNG frame a world
// file (".pgw", the six numbers of its affine placement) and GDAL's
// auxiliary file (".png.aux.xml", its coordinate system), as GDAL, QGIS and
// ArcGIS read them. The cells are on the WGS 84 geographic system, a square
// of `cell_size` degrees each, from the grid's south-west corner.
#ifndef DISCHARGE_IMAGE_RENDERER_WORLD_FILE_H
#define DISCHARGE_IMAGE_RENDERER_WORLD_FILE_H

#include <cstdint>
#include <string>

// The geographic system of WGS 84 (EPSG:4326) in the WKT that GDAL reads.
extern const char* const WGS84_WKT;

// A frame's map on the globe.
struct FramePlacement {
    double west = 0;       // longitude of the grid's west edge, degrees
    double south = 0;      // latitude of its south edge
    double cell_size = 0;  // degrees a cell side
    std::int32_t nrows = 0;
    std::uint32_t scale = 1;     // pixels a cell side
    std::int32_t band_rows = 0;  // pixel rows above the map (an annotated frame's band)
};

// The world file's text: the pixel's width, two zeros (no rotation), its
// height (negative: rows run south), and the centre of the top-left pixel,
// each number in the shortest text that reads back as it, a line each.
std::string world_file_text(const FramePlacement& placement);

// GDAL's auxiliary file of a frame, naming its coordinate system.
std::string aux_xml_text();

#endif  // DISCHARGE_IMAGE_RENDERER_WORLD_FILE_H
