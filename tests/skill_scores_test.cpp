#include "skill_scores.h"

#include <gtest/gtest.h>
