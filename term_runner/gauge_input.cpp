#include "gauge_input.h"
