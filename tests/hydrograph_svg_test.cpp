#include "hydrograph_svg.h"

#include <gtest/gtest.h>
