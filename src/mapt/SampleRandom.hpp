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

    /// Skips `draws` values of the sequence in O(log draws) steps: afterwards
    /// next() gives what it would have given after `draws` calls. Lets a long
    /// stream be cut into pieces that threads draw independently.
    void skip(std::uint64_t draws) {
        // The congruential step composed with itself: x -> a x + c applied
        // 2^k times is x -> A x + C with A = a^(2^k), C = c (a^(2^k) - 1) / (a - 1).
        std::uint64_t multiplier = 1, increment = 0;
        std::uint64_t stepMultiplier = MULTIPLIER, stepIncrement = INCREMENT;
        for (; draws > 0; draws >>= 1) {
            if (draws & 1u) {
                multiplier *= stepMultiplier;
                increment = increment * stepMultiplier + stepIncrement;
            }
            stepIncrement = (stepMultiplier + 1) * stepIncrement;
            stepMultiplier *= stepMultiplier;
        }
        state = multiplier * state + increment;
    }

    /// 62 bits from two draws, for deriving further streams.
    std::uint64_t nextKey() { return (static_cast<std::uint64_t>(next()) << 31) ^ next(); }

    /// The stream of item `item` of a pass keyed `key`: independent of how
    /// the items are shared among threads.
    static SampleRandom forItem(std::uint64_t key, std::uint64_t item) {
        return SampleRandom(mix(key ^ mix(item + 0x9e3779b97f4a7c15ull)));
    }

  private:
    // The splitmix64 finaliser: nearby keys give unrelated seeds.
    static std::uint64_t mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    void step() { state = state * MULTIPLIER + INCREMENT; }

    static constexpr std::uint64_t MULTIPLIER = 6364136223846793005ull;
    static constexpr std::uint64_t INCREMENT = 1442695040888963407ull;  // odd
    std::uint64_t state = 0;
};

}  // namespace shapescale
