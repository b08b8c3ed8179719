// Compares the exact quotients and roots of warp/exact_quotient.h with the
// hardware's division and square root on COUNT random cases in their proven
// ranges (cases drawn outside are drawn again). Prints the counts; exits 1 on
// any mismatch.
//   split     exact_quotient (the split reciprocal), and how often the shorter
//             form q = n * hi, r = fma(-q, d, n), q' = fma(r, hi, q) differs,
//             for the record. Divisors with full random mantissas over
//             2^-880 .. 2^880 and the kernel's own kinds (square roots of
//             whole numbers and their squares); numerators with full
//             mantissas, and quarter-integers as pixel coordinates give them.
//   division  the method newton's quotient from the estimate, in the lanes
//             of the instruction set chosen now (TAVROSK_TARGET): full
//             mantissas over 2^-500 .. 2^500, the weight's kinds
//             (pow(|PQ|, 0.5) over a + dist), and an eighth chosen within
//             2^-5 ulp of a midpoint, where the rounding test decides.
//   root      its square root likewise: full mantissas over 2^-600 .. 2^600,
//             sums of squares of quarter-integers as the end distances have
//             them, zero, and an eighth near midpoints.
// Usage: quotient_sweep [COUNT [SEED [split|division|root]]]
//        (default 1000000000 cases, seed 1, split)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "warp/exact_quotient.h"

namespace {

uint64_t state;

uint64_t next()
{
    // xorshift64*: fast, and plenty for choosing operands.
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ull;
}

double with_exponent(int exponent)
{
    const uint64_t bits = (static_cast<uint64_t>(exponent + 1023) << 52) | (next() >> 12);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Within 2^-5 ulp of a midpoint between two doubles (t in long double, whose
// 64-bit significand on x86 shows the bits past the double's).
bool near_midpoint(long double t)
{
    int e;
    const long double bits = std::ldexp(std::frexp(t, &e), 53);
    return std::fabs(bits - std::floor(bits) - 0.5L) < 1.0L / 32;
}

int sweep_split(long long count)
{
    long long drawn = 0, tested = 0, mismatches = 0, short_form_mismatches = 0;
    while (tested < count) {
        ++drawn;
        const uint64_t kind = next();
        double d;
        switch (kind % 3) {
        case 0: d = with_exponent(static_cast<int>(next() % 1761) - 880); break;
        case 1: d = std::sqrt(static_cast<double>(next() % 100000000 + 1)); break;
        default: {
            const double len = std::sqrt(static_cast<double>(next() % 100000000 + 1));
            d = len * len;
        }
        }
        double n = (kind >> 8) % 2 ? with_exponent(static_cast<int>(next() % 1761) - 880)
                                   : static_cast<double>(static_cast<int64_t>(next() % 40000000) - 20000000) / 4;
        if ((kind >> 9) % 2)
            n = -n;
        if (!exact_quotient_in_range(n, d))
            continue;
        ++tested;
        const SplitReciprocal y = split_reciprocal(d);
        const double expected = n / d;
        const double q = exact_quotient(n, d, y);
        if (!same_bits(q, expected) && ++mismatches <= 10)
            std::printf("mismatch: %a / %a = %a, exact_quotient gives %a\n", n, d, expected, q);
        const double q0 = n * y.hi;
        const double short_form = std::fma(std::fma(-q0, d, n), y.hi, q0);
        short_form_mismatches += short_form != expected;
    }
    std::printf("%lld cases drawn, %lld in range: %lld mismatches of exact_quotient; the three-operation form "
                "differed (by value) %lld times\n",
                drawn, tested, mismatches, short_form_mismatches);
    return mismatches ? 1 : 0;
}

// One operand pair of the newton sweeps (b unused for the root).
void draw_estimate(bool root, double* a, double* b)
{
    for (;;) {
        const uint64_t kind = next();
        if (root) {
            switch (kind % 8) {
            case 0: *a = next() % 64 ? with_exponent(static_cast<int>(next() % 1201) - 600) : 0.0; break;
            case 1: {
                const double x = with_exponent(static_cast<int>(next() % 1201) - 600);
                if (!near_midpoint(std::sqrt(static_cast<long double>(x))))
                    continue;
                *a = x;
                break;
            }
            default: {
                const double e_x = static_cast<double>(static_cast<int64_t>(next() % 40000000) - 20000000) / 4;
                const double e_y = static_cast<double>(static_cast<int64_t>(next() % 40000000) - 20000000) / 4;
                *a = e_x * e_x + e_y * e_y;
            }
            }
            if (estimate_root_in_range(*a))
                return;
            continue;
        }
        switch (kind % 8) {
        case 0:
        case 1:
        case 2:
            *a = with_exponent(static_cast<int>(next() % 1001) - 500);
            *b = with_exponent(static_cast<int>(next() % 1001) - 500);
            break;
        case 3: {
            *a = with_exponent(static_cast<int>(next() % 1001) - 500);
            *b = with_exponent(static_cast<int>(next() % 1001) - 500);
            if (!near_midpoint(static_cast<long double>(*a) / *b))
                continue;
            break;
        }
        default:
            *a = std::sqrt(std::sqrt(static_cast<double>(next() % 100000000 + 1)));
            *b = 1.0 + (kind % 2 ? std::sqrt(static_cast<double>(next() % 100000000))
                                 : static_cast<double>(next() % 40000000) / 4);
        }
        if (estimate_quotient_in_range(*a, *b))
            return;
    }
}

int sweep_estimate(long long count, bool root)
{
    const size_t batch = 4096;
    std::vector<double> a(batch), b(batch), out(batch);
    long long tested = 0, mismatches = 0;
    while (tested < count) {
        const size_t n = static_cast<size_t>(std::min<long long>(batch, count - tested));
        for (size_t i = 0; i < n; ++i)
            draw_estimate(root, &a[i], &b[i]);
        if (!estimate_lanes(root ? ESTIMATE_ROOT : ESTIMATE_QUOTIENT, a.data(), b.data(), nullptr, out.data(), n)) {
            std::printf("this instruction set has no method newton\n");
            return 2;
        }
        for (size_t i = 0; i < n; ++i) {
            const double expected = root ? std::sqrt(a[i]) : a[i] / b[i];
            if (!same_bits(out[i], expected) && ++mismatches <= 10) {
                if (root)
                    std::printf("mismatch: sqrt %a = %a, the lanes give %a\n", a[i], expected, out[i]);
                else
                    std::printf("mismatch: %a / %a = %a, the lanes give %a\n", a[i], b[i], expected, out[i]);
            }
        }
        tested += static_cast<long long>(n);
    }
    std::printf("%lld cases of the %s from the estimate: %lld mismatches\n", tested, root ? "square root" : "quotient",
                mismatches);
    return mismatches ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000000LL;
    state = argc > 2 ? std::strtoull(argv[2], nullptr, 10) * 0x9E3779B97F4A7C15ull + 1 : 0x9E3779B97F4A7C15ull;
    const std::string what = argc > 3 ? argv[3] : "split";
    if (what == "split")
        return sweep_split(count);
    if (what == "division" || what == "root")
        return sweep_estimate(count, what == "root");
    std::fprintf(stderr, "usage: quotient_sweep [COUNT [SEED [split|division|root]]]\n");
    return 2;
}
