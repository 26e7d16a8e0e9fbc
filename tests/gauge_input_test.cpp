#include "gauge_input.h"

#include <gtest/gtest.h>
