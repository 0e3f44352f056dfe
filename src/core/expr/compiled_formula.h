// A compact formula turned once into a postfix program, for the per-pixel path
// of the transform. The program is produced by the same descent the text
// evaluator makes and applies the same operations to the same operands in the
// same order (random draws included), so its values are bit-identical to
// Formula::evaluate on the same text.
#pragma once

#include <cstdint>
#include <vector>

#include "core/expr/formula.h"

namespace qel {

class CompiledFormula {
public:
    // Compiles a compact text (one that validate accepted). False when the
    // program would need a deeper stack than it holds; callers then keep the text.
    bool compile(const char* compact);
    // The value with the variables of `vars`. Allocates nothing.
    double evaluate(const Formula& vars) const;

    static constexpr int kStackSize = 260;

private:
    enum class Op : uint8_t { Const, X, Y, Z, Function1, Function2, Factorial, Power, Divide, Multiply, Subtract, Add,
                              Negate };
    struct Step {
        Op op;
        char code;
        double value;
    };
    void emit(Op op, char code = 0, double value = 0);
    void walk(const char*& p, int level, int depth);

    std::vector<Step> steps_;
    int depth_ = 0;
    int maxDepth_ = 0;
};

}  // namespace qel
