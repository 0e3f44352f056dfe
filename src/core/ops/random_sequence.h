// The random numbers of formulas (rand, frand): a sequence each picture owns, so a picture's
// formulas draw the same numbers whoever runs them, on whatever thread, beside whatever else.
#pragma once

#include <cstdint>

namespace qel {

// state' = state * 214013 + 2531011 (mod 2^32), result (state' >> 16) & 0x7FFF, the state starting at 1.
struct RandomSequence {
    uint32_t state = 1;
};

// While a scope lives, rand and frand on its thread draw from its sequence. Without one a thread
// draws from a sequence of its own, which goes on from draw to draw (the calculator's answers).
class RandomScope {
public:
    explicit RandomScope(RandomSequence& sequence);
    ~RandomScope();
    RandomScope(const RandomScope&) = delete;
    RandomScope& operator=(const RandomScope&) = delete;

private:
    RandomSequence* previous_;
};

// The next number of the thread's current sequence.
int nextRandom();
// Tests only: reads and sets the state of the thread's current sequence.
uint32_t randomStateForTesting();
void setRandomStateForTesting(uint32_t state);

}  // namespace qel
