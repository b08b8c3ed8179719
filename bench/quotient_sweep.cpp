// Compares exact_quotient (warp/exact_quotient.h) with true division on
// COUNT random cases in its proven range (cases drawn outside it are drawn
// again), and counts how often the shorter
// form q = n * hi, r = fma(-q, d, n), q' = fma(r, hi, q) differs too, for
// the record. Prints the counts; exits 1 on any mismatch of exact_quotient.
// Cases: divisors with full random mantissas over 2^-880 .. 2^880, and the
// kernel's own kinds (square roots of whole numbers and their squares);
// numerators with full mantissas, and quarter-integers as pixel coordinates
// give them.
// Usage: quotient_sweep [COUNT [SEED]]   (default 1000000000 cases, seed 1)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

int main(int argc, char** argv)
{
    const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000000LL;
    state = argc > 2 ? std::strtoull(argv[2], nullptr, 10) * 0x9E3779B97F4A7C15ull + 1 : 0x9E3779B97F4A7C15ull;
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
        if (std::memcmp(&q, &expected, sizeof q) != 0) {
            if (++mismatches <= 10)
                std::printf("mismatch: %a / %a = %a, exact_quotient gives %a\n", n, d, expected, q);
        }
        const double q0 = n * y.hi;
        const double short_form = std::fma(std::fma(-q0, d, n), y.hi, q0);
        short_form_mismatches += short_form != expected;
    }
    std::printf("%lld cases drawn, %lld in range: %lld mismatches of exact_quotient; the three-operation form "
                "differed (by value) %lld times\n",
                drawn, tested, mismatches, short_form_mismatches);
    return mismatches ? 1 : 0;
}
