// A plain morph, written from the formulas of docs/numerics.md ("Morph
// frames") with the literal kernel, for the tests to hold tavrosk-morph's
// frames against.
#pragma once
#include <vector>

#include "tests/support/test_support.h"
#include "warp/warp.h"

// Frame i of n from FIRST to SECOND (any depths, the same size) by the pair
// table `pairs` (first segment of a pair in FIRST, second in SECOND), as a
// new 32-bit surface.
SurfacePtr plain_morph_frame(SDL_Surface* first, SDL_Surface* second, const std::vector<Segment>& pairs,
                             const WarpParams& params, int i, int n);
