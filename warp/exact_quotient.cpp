#include "warp/exact_quotient.h"

#include <cmath>
#include <initializer_list>

SplitReciprocal split_reciprocal(double d)
{
    SplitReciprocal y;
    y.hi = 1 / d;
    y.lo = std::fma(-d, y.hi, 1.0) / d;
    return y;
}

double exact_quotient(double n, double d, SplitReciprocal y)
{
    const double q0 = std::fma(n, y.hi, n * y.lo);
    const double r = std::fma(q0, d, -n);
    // A numerator of -0 can leave q0 at +0 (when lo < 0); the quotient's sign
    // is always n's, as d > 0, so it is put back.
    return std::copysign(std::fma(-r, y.hi, q0), n);
}

static bool within(double x, double low, double high)
{
    const double m = std::fabs(x);
    return m >= low && m <= high;
}

bool exact_quotient_in_range(double n, double d)
{
    const double low = std::ldexp(1.0, -900), high = std::ldexp(1.0, 900);
    if (!(d >= low && d <= high))
        return false;
    return n == 0 || (within(n, low, high) && within(n / d, low, high));
}

bool exact_quotient_segment(const Segment& s)
{
    const double low = std::ldexp(1.0, -100), high = std::ldexp(1.0, 100);
    for (double c : {s.x1, s.y1, s.x2, s.y2})
        if (!(c == 0 || within(c, low, high)))
            return false;
    return true;
}

bool estimate_quotient_in_range(double n, double d)
{
    const double low = std::ldexp(1.0, -500), high = std::ldexp(1.0, 500);
    return n >= low && n <= high && d >= low && d <= high;
}

bool estimate_root_in_range(double x)
{
    // -0 is left out: the kernel's sums of squares are never -0.
    return (x == 0 && !std::signbit(x)) || (x >= std::ldexp(1.0, -600) && x <= std::ldexp(1.0, 600));
}

bool estimate_weight_admitted(double numerator, double a)
{
    const double low = std::ldexp(1.0, -400), high = std::ldexp(1.0, 400);
    return numerator >= low && numerator <= high && a >= low && a <= high;
}
