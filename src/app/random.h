#pragma once
// The game's one random generator. A fixed algorithm of our own (PCG32), so
// that a seed and an input script replay the same game on every machine.
#include <cstdint>

class TRandom {
public:
  void Seed(uint64_t seed) {
    state_ = 0;
    Next();
    state_ += seed;
    Next();
  }
  // Uniform integer 0 .. n-1 (0 when n <= 0).
  int32_t Random(int32_t n) {
    if (n <= 0) {
      Next();
      return 0;
    }
    return static_cast<int32_t>((static_cast<uint64_t>(Next()) * static_cast<uint64_t>(n)) >> 32);
  }
  // a + Random(b - a).
  int32_t RandomRange(int32_t a, int32_t b) { return a + Random(b - a); }
  uint64_t State() const { return state_; }
  void SetState(uint64_t state) { state_ = state; }

private:
  uint32_t Next() {
    uint64_t old = state_;
    state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
    uint32_t xorshifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
    uint32_t rot = static_cast<uint32_t>(old >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
  }
  uint64_t state_ = 0x853c49e6748fea9bULL;
};
