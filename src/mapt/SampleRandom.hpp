#pragma once
// The random generator of the surface sampling: small, fast and seedable.

#include <cstdint>

namespace shapescale {

/// A permuted congruential generator (64-bit state, 32-bit output, the
/// XSH-RR output function) that gives integers from 0 to 2^31 - 1, as the
/// sampling's formulas expect. One generator per run, seeded once; the same
/// seed gives the same sequence on every machine and thread count.
class SampleRandom {
  public:
    /// Largest value of next(): 2^31 - 1.
    static constexpr std::uint32_t MAX = 0x7fffffffu;

    explicit SampleRandom(std::uint64_t seed = 1) { reseed(seed); }

    /// Restarts the sequence; equal seeds give equal sequences.
    void reseed(std::uint64_t seed) {
        state = 0;
        step();
        state += seed;
        step();
    }

    /// Next integer, uniform in 0 .. MAX.
    std::uint32_t next() {
        const std::uint64_t old = state;
        step();
        const auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
        const auto rotation = static_cast<std::uint32_t>(old >> 59u);
        const std::uint32_t bits =
            (xorshifted >> rotation) | (xorshifted << ((32u - rotation) & 31u));
        return bits >> 1;  // the top 31 bits
    }

  private:
    void step() { state = state * MULTIPLIER + INCREMENT; }

    static constexpr std::uint64_t MULTIPLIER = 6364136223846793005ull;
    static constexpr std::uint64_t INCREMENT = 1442695040888963407ull;  // odd
    std::uint64_t state = 0;
};

}  // namespace shapescale
