// Evaluation sits on the per-pixel path: it must not allocate.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/expr/compiled_formula.h"
#include "core/expr/formula.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The replacement pair uses malloc and free; GCC cannot tell they belong together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace qel {
namespace {

TEST(FormulaAllocation, EvaluatingAllocatesNothing) {
    char text[] = "max(x+10*sin(y),abs(x-y)/8)^1.5+frand(2)*rand(7)-12345678901234567890.125/hypot(x,y)+3!";
    Formula::normalise(text);
    ASSERT_EQ(Formula::validate(text), 1);
    CompiledFormula program;
    ASSERT_TRUE(program.compile(text));
    Formula f;
    double sum = 0;
    const long before = allocations.load();
    for (int i = 0; i < 1000; ++i) {
        f.setVariables(i, i * 0.5, sum);
        sum += f.evaluate(text) + program.evaluate(f);
    }
    EXPECT_EQ(allocations.load(), before);
    volatile double sink = sum;  // keeps the loop
    (void)sink;
}

}  // namespace
}  // namespace qel
