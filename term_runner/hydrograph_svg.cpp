#include "hydrograph_svg.h"
