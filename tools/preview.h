// A picture of a booklet's plan as SVG: every sheet side as a rectangle with its two page
// numbers, sheets grouped by signature, turned sides drawn upside down.
#pragma once

#include <string>

#include "quirefold_impose.h"

std::string plan_svg(const quirefold_impose_result& result);
