#pragma once
// Hot filter loops compiled twice, for AVX2 and for any x86-64 processor; the
// program picks the better one when it starts. Both perform the same float
// additions and multiplications in the same order (no fused multiply-add: the
// build forbids contraction and AVX2 alone does not include it), so a result
// does not depend on the processor it was computed on.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define SHAPESCALE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SHAPESCALE_VECTOR_CLONES
#endif
