// A compact formula turned once into a postfix program, for the per-pixel path
// of the transform. The same recursive descent serves Formula::evaluate, which
// runs each step the moment the descent produces it instead of storing it, so a
// stored program's values are bit-identical to evaluating its text (random
// draws included: the steps and their order are the same).
#pragma once

#include <cstdint>
#include <vector>

#include "core/expr/formula.h"

namespace qel {

class CompiledFormula {
public:
    // Compiles a compact text (one that validate accepted). False when the
    // program would need a deeper stack than it holds, which the descent's
    // nesting bound rules out for any text (see kStackSize); kept as a guard.
    bool compile(const char* compact);
    // The value with the variables of `vars`. Allocates nothing.
    double evaluate(const Formula& vars) const;

    // The values for n pixels at once, pixel i having x = xs[i], y = y and z = zs[i] (zs may be null
    // when the program does not read z), into out[0..n). A step whose operands are the same for
    // every pixel runs once (sin(y) once per row); every other step runs pixel by pixel in the same
    // order, so the values are those of evaluate. Only for programs that draw no random numbers.
    // `scratch` is the caller's, reused from call to call.
    void evaluateMany(const double* xs, double y, const double* zs, int n, double* out,
                      std::vector<double>& scratch) const;

    // Reads the compact text from `pos` as `level` (0 expression, 1 term,
    // 2 factor) and runs each step as it is read; `stop` (may be null) receives
    // where the reading ended. This is Formula::evaluate. Allocates nothing.
    static double compileAndRun(const Formula& vars, const char* pos, int level, const char** stop);

    // The descent nests from level 0 to kMaxNesting, one level deeper meeting only an
    // empty primary. Each level holds at most one value while a deeper one is
    // computed, so a program never needs more than kMaxNesting + 2 values.
    static constexpr int kMaxNesting = static_cast<int>(kMaxFormulaLength) + 8;
    static constexpr int kStackSize = kMaxNesting + 2;

    enum class Op : uint8_t { Const, X, Y, Z, Function1, Function2, Factorial, Power, Divide, Multiply, Subtract, Add,
                              Negate };
    struct Step {
        Op op;
        double value;                     // for Const
        const BuiltInFunction* function;  // for Function1 and Function2
    };

private:
    std::vector<Step> steps_;
    int maxDepth_ = 0;  // values the program's stack holds at most
};

}  // namespace qel
