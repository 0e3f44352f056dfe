// Formula: the small expression language of the calculator and the transform.
//
// A typed formula is rewritten in place into a compact text (spaces removed,
// each built-in function's name with its "(" replaced by the function's code
// letter) and checked by `validate`. Evaluating reads the compact text with the
// one recursive descent of compiled_formula.cpp, which runs each step of the
// postfix program as it produces it: the text and the stored program give the
// same values because they are the same steps run by the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/ops/random_sequence.h"

namespace qel {

// Longest compact text `validate` accepts (it must fit a 256-byte buffer with its NUL).
constexpr size_t kMaxFormulaLength = 255;

// One built-in function of the language.
struct BuiltInFunction {
    const char* name;  // as typed; recognised only when "(" follows directly
    char code;         // the letter that stands for the name and its "(" in the compact text
    int arity;         // 1 or 2
    bool drawsRandom;  // reads the shared random generator
    double (*apply)(double a, double b);  // b is 0 for a one-argument function
};

// Every built-in function, one row each: the only list of them.
std::span<const BuiltInFunction> builtInFunctions();
// The function a code letter stands for; null for any other character.
const BuiltInFunction* builtInFunction(char code);

class Formula {
public:
    double x = 0;
    double y = 0;
    double z = 0;

    void reset() { x = y = z = 0; }
    void setVariables(double vx, double vy, double vz) { x = vx; y = vy; z = vz; }

    // Removes every space (0x20 only) in place; returns `text`.
    static char* removeSpaces(char* text);
    // Removes spaces and replaces function names by their code letters, in place; returns `text`.
    // The text never grows.
    static char* normalise(char* text);
    // 1 when the compact text is acceptable, else 0.
    static int validate(const char* text);
    // Offset in `t` where a function's argument ends: mode 1 stops at the comma
    // that belongs to the current function (or its closing ")"), mode 0 at the
    // closing ")". -1 when the text ends before the walk stops.
    static int argumentSpan(const char* t, int mode);
    // True when evaluating the compact text may draw from the random generator.
    static bool drawsRandom(const char* text);

    // Evaluates the compact text from `pos` at `level` (0 expression, 1 term,
    // 2 factor) with the current variables. `stop` (may be null) receives the
    // position where evaluation stopped. Allocates nothing and never reads past
    // the terminating NUL; meant for texts `validate` accepted.
    double evaluate(const char* pos, int level, const char** stop = nullptr) const;
    // A whole formula: level 0 from its first character.
    double evaluate(const char* text) const { return evaluate(text, 0, nullptr); }

    // n! of v truncated to a 32-bit integer, in wrapping 32-bit arithmetic; 0! = 1, n < 0 gives n.
    static int32_t factorial(double v);
    // Logarithm of `value` to `base` (log10 value / log10 base), no domain test.
    static double logBase(double base, double value);
    static double absolute(double v);
    // 0 for n = 0; else rand() mod |n|, negated for negative n.
    static int32_t randomBelow(int32_t n);
};


// Reads the number at `p` (digits with an optional "." and digits, never an
// exponent, hex, inf or nan form) and moves `p` past it. Locale independent.
double readFormulaNumber(const char*& p);

// Truncation toward zero to a 32-bit integer; values that are not finite or lie
// outside the 32-bit range give the most negative integer.
inline int32_t truncToInt32(double v) {
    if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int32_t>(v);
    return INT32_MIN;
}

}  // namespace qel
