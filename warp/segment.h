// Shared geometry types of the warp. Coordinates are window/image pixels,
// x right, y down. Entries 2k and 2k+1 of a segment table form pair k: the
// first where a feature lies in the source, the second where it is to lie in
// the result.
#pragma once

struct Segment {
    double x1, y1, x2, y2;
};

struct Vec2 {
    double x, y;
};
