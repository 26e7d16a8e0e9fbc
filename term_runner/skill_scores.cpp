#include "skill_scores.h"
