#include "core/ops/random_sequence.h"

namespace qel {

namespace {

thread_local RandomSequence threadSequence;
thread_local RandomSequence* scopeSequence = nullptr;
RandomSequence& currentSequence() { return scopeSequence ? *scopeSequence : threadSequence; }

}  // namespace

RandomScope::RandomScope(RandomSequence& sequence) : previous_(scopeSequence) { scopeSequence = &sequence; }
RandomScope::~RandomScope() { scopeSequence = previous_; }

int nextRandom() {
    uint32_t& state = currentSequence().state;
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

uint32_t randomStateForTesting() { return currentSequence().state; }
void setRandomStateForTesting(uint32_t state) { currentSequence().state = state; }

}  // namespace qel
