// The formula language: rewriting, acceptance and evaluation.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "core/expr/formula.h"

namespace qel {
namespace {

std::string normalised(std::string text) {
    std::vector<char> b(text.begin(), text.end());
    b.push_back('\0');
    return Formula::normalise(b.data());
}

bool accepts(const std::string& typed) {
    std::string compact = normalised(typed);
    return Formula::validate(compact.c_str()) == 1;
}

// Evaluates a typed formula that must validate.
double value(const std::string& typed, double x = 0, double y = 0, double z = 0) {
    std::string compact = normalised(typed);
    EXPECT_EQ(Formula::validate(compact.c_str()), 1) << typed;
    Formula f;
    f.setVariables(x, y, z);
    return f.evaluate(compact.c_str());
}

TEST(FormulaNormalise, ReplacesNamesByCodeLettersLeftToRight) {
    const std::pair<const char*, const char*> cases[] = {
        {"sin(30)", "s30)"},
        {"s in ( 3 0)", "s30)"},           // spaces anywhere are removed first
        {"asin(x)+acos(x)+atan(x)", "ix)+ox)+ax)"},
        {"sinh(x)*cosh(y)/tanh(z)", "Sx)*Cy)/Tz)"},
        {"frand(2)+rand(3)", "f2)+r3)"},  // frand is taken whole, not f + rand
        {"max(1,min(2,3))", "B1,b2,3))"},
        {"delta(x,y)+step(x)+abs(x)+fmod(x,y)+log(x,y)+hypot(x,y)", "Dx,y)+Hx)+Ax)+mx,y)+Lx,y)+hx,y)"},
        {"sqrt(x)+ln(x)+exp(x)+tan(x)+cos(x)", "qx)+lx)+ex)+tx)+cx)"},
        {"asinh(x)", "aSx)"},              // a stays a letter, sinh( is found one further on
        {"SIN(x)", "SIN(x)"},              // upper-case names are not recognised
        {"sin 30", "sin30"},               // a name needs its "(" directly after it
        {"1\t2", "1\t2"},                  // only spaces are removed
    };
    for (const auto& [typed, compact] : cases) EXPECT_EQ(normalised(typed), compact) << typed;
}

TEST(FormulaBuiltIns, EachIsReadCheckedAndEvaluatedByItsOwnRow) {
    Formula f;
    for (const BuiltInFunction& fn : builtInFunctions()) {
        const std::string name = fn.name, args = fn.arity == 2 ? "1,2)" : "1)";
        EXPECT_EQ(normalised(name + "(" + args), fn.code + args) << name;
        EXPECT_EQ(builtInFunction(fn.code), &fn) << name;
        EXPECT_TRUE(accepts(name + "(" + args)) << name;
        EXPECT_EQ(accepts(name + "(1)"), fn.arity == 1) << name;
        setRandomStateForTesting(1);
        const std::string compact = fn.code + args;
        f.evaluate(compact.c_str());
        EXPECT_EQ(randomStateForTesting() != 1, fn.drawsRandom) << name;
        EXPECT_EQ(Formula::drawsRandom(compact.c_str()), fn.drawsRandom) << name;
    }
    EXPECT_EQ(builtInFunction('x'), nullptr);
    EXPECT_EQ(builtInFunction('\xe9'), nullptr);
}

TEST(FormulaValidate, AcceptsAndRejectsByTheNeighbourAndArityRules) {
    const std::pair<const char*, bool> cases[] = {
        {"sin(30)", true},       {"sin 30", false},       {"max(1,min(2,3))", true}, {"max(1)", false},
        {"max(1,2,3)", false},   {"min(max(1,2),3)", true}, {"hypot(3,4)*log(2,8)", true},
        {"2x", false},           {"2*x", true},           {"x2", false},             {"xy", false},
        {"3!", true},            {"!3", false},           {"3+", false},             {"1.5*x", true},
        {"1e5", false},          {"(1+2", false},         {"1+2)", false},           {")1+2(", false},
        {"--x", false},          {"-x", true},            {"2*-x", true},            {"2^-1", true},
        {"SIN(x)", false},       {"1 2", true},           {"", false},               {"   ", false},
        {"*2", false},           {"^2", false},           {"/2", false},             {"2^^3", false},
        {"x,y", true},           {"(x)", true},           {"()", false},             {"1\t+2", false},
        {"x+1;", false},         {"3!^2", true},          {"fmod(7,3)", true},       {"delta(x,2)+step(y)", true},
        // repaired: a number directly followed by "(" is refused
        {"2(3)", false},         {"2*(3)", true},
        // repaired: a function whose closing ")" never comes is refused, not walked past the end
        {"(1))+max(2,3", false}, {"(1))+max(2", false},
    };
    for (const auto& [typed, ok] : cases) EXPECT_EQ(accepts(typed), ok) << typed;
}

TEST(FormulaValidate, RefusesTextsLongerThan255Characters) {
    std::string ok = "1";
    while (ok.size() < 255) ok += "+1";
    ASSERT_EQ(ok.size(), 255u);
    EXPECT_TRUE(accepts(ok));
    EXPECT_TRUE(accepts(ok + "      "));  // spaces do not count
    EXPECT_FALSE(accepts(ok + "1"));
    std::string deep(2000, '(');
    deep += "1" + std::string(2000, ')');
    EXPECT_FALSE(accepts(deep));
}

TEST(FormulaArgumentSpan, StopsAtOwnCommaOrClosingParenthesisAndNeverPastTheEnd) {
    EXPECT_EQ(Formula::argumentSpan("1,2)", 1), 1);
    EXPECT_EQ(Formula::argumentSpan("1,2)", 0), 3);
    EXPECT_EQ(Formula::argumentSpan("b1,2),3)", 1), 5);  // the nested comma is paid for by b
    EXPECT_EQ(Formula::argumentSpan("s1),2)", 1), 3);
    EXPECT_EQ(Formula::argumentSpan("1)", 1), 1);
    EXPECT_EQ(Formula::argumentSpan("1,2", 0), -1);
    EXPECT_EQ(Formula::argumentSpan("", 1), -1);
}

TEST(FormulaEvaluate, FollowsTheLevelsAndGroupingRules) {
    const std::pair<const char*, double> cases[] = {
        {"7/0", 700},          {"2^3^2", 512},       {"3!", 6},           {"2^3!", 64},
        {"1-2+3-4", -2},       {"10/4/5", 0.5},      {"2*((1+2))+1", 7},  {"3!^2", 6},
        {"3!!", 6},            {"1-2-3", -4},        {"2+3*4", 14},       {"2*3^2", 18},
        {"10-2*3", 4},         {"2*3-1", 5},         {"12/3*2", 8},       {"2*6/3", 4},
        {"-2^2", -4},          {"-3", -3},           {"(-3)*2", -6},      {"1 2", 12},
        {"0!", 1},             {"1.5*2", 3},         {"x*y+z", 7},        {"-x", -2},
        {"max(1,min(2,3))", 2}, {"0.0/0", 0},
        // repaired: a sign after *, / or ^ belongs to the factor that follows
        {"2*-3", -6},          {"2/-4", -0.5},       {"2^-1", 0.5},       {"2*+3", 6},
        {"8/-0", 800},         {"2*-3+1", -5},       {"2^-3^2", 1.0 / 512}, {"2*-x", -4},
    };
    for (const auto& [typed, expected] : cases) EXPECT_DOUBLE_EQ(value(typed, 2, 3, 1), expected) << typed;
}

TEST(FormulaEvaluate, FunctionsWorkInDegreesWithFixedValuesOutsideTheirDomains) {
    const std::pair<const char*, double> cases[] = {
        {"sin(30)", 0.5},      {"cos(60)", 0.5},     {"tan(45)", 1},      {"asin(0.5)", 30},
        {"acos(0.5)", 60},     {"atan(1)", 45},      {"asin(2)", 0},      {"acos(-1.5)", 0},
        {"sqrt(-4)", 0},       {"sqrt(16)", 4},      {"ln(0)", 0},        {"ln(-1)", 0},
        {"log(2,8)", 3},       {"exp(0)", 1},        {"sinh(0)", 0},      {"cosh(0)", 1},
        {"tanh(0)", 0},        {"abs(-2.5)", 2.5},   {"fmod(-7,3)", -1},  {"hypot(3,4)", 5},
        {"delta(1,2)", 1},     {"delta(2,2)", 0},    {"delta(-1,2)", 1},  {"delta(-2,2)", 0},
        {"step(0)", 1},        {"step(-0.5)", 0},    {"max(2,1)", 2},     {"min(2,1)", 1},
        {"rand(0)", 0},
    };
    for (const auto& [typed, expected] : cases) EXPECT_NEAR(value(typed), expected, 1e-12) << typed;
    EXPECT_TRUE(std::isinf(value("log(1,8)")));
    EXPECT_TRUE(std::isnan(value("(0-2)^0.5")));
}

TEST(FormulaEvaluate, ReadsPlainDecimalNumbersOnly) {
    // Texts that validate would refuse; evaluation still stops safely where the reading ends.
    const std::pair<const char*, double> cases[] = {
        {"1.e5", 1}, {"1.5e3", 1.5}, {"0x10", 0}, {"2(3)", 2}, {".5", 0}, {"1.2.3", 1.2}, {"", 0}, {"s", 0},
        {"12345678901234567890", 12345678901234567890.0}, {"0.1", 0.1},
    };
    Formula f;
    for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(f.evaluate(text), expected) << text;
    const char* stop = nullptr;
    f.evaluate("1.e5", 0, &stop);
    EXPECT_STREQ(stop, "e5");
}

TEST(FormulaEvaluate, StopsAtTheEndOfAnyText) {
    // Unchecked texts must never be read past their NUL; a fuzz-like sweep over short strings.
    const char alphabet[] = "0.1x(),+-*/^!sDBe";
    Formula f;
    f.setVariables(1, 2, 3);
    std::string text;
    for (int n = 0; n < 20000; ++n) {
        text.clear();
        unsigned s = 2166136261u ^ static_cast<unsigned>(n);
        const int len = 1 + n % 9;
        for (int i = 0; i < len; ++i) {
            s = s * 1103515245u + 12345u;
            text += alphabet[(s >> 16) % (sizeof alphabet - 1)];
        }
        const char* stop = nullptr;
        f.evaluate(text.c_str(), 0, &stop);
        ASSERT_GE(stop, text.c_str());
        ASSERT_LE(stop, text.c_str() + text.size());
    }
}

TEST(FormulaFactorial, WrapsIn32Bits) {
    const std::pair<double, int32_t> cases[] = {
        {5, 120}, {0, 1}, {1, 1}, {-3, -3}, {3.9, 6}, {-0.5, 1}, {12, 479001600}, {13, 1932053504},
        {34, 0}, {2147483647.0, 0}, {1e10, INT32_MIN}, {NAN, INT32_MIN},
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(Formula::factorial(v), expected) << v;
}

TEST(FormulaRandom, SharesOneGeneratorWithTheLibrarySequence) {
    setRandomStateForTesting(1);
    EXPECT_EQ(nextRandom(), 41);
    EXPECT_EQ(nextRandom(), 18467);
    EXPECT_EQ(nextRandom(), 6334);

    setRandomStateForTesting(1);
    EXPECT_EQ(Formula::randomBelow(10), 1);         // 41 mod 10
    EXPECT_EQ(Formula::randomBelow(-5), -2);        // -(18467 mod 5)
    EXPECT_EQ(Formula::randomBelow(INT32_MIN), -6334);
    EXPECT_EQ(Formula::randomBelow(0), 0);
    EXPECT_EQ(randomStateForTesting(), 415139642u) << "randomBelow(0) draws nothing";

    setRandomStateForTesting(1);
    Formula f;
    EXPECT_DOUBLE_EQ(f.evaluate("f2)"), 41 * 3.0518509447574615e-05 * 2);
    EXPECT_EQ(f.evaluate("r10)+r10)"), 7 + 4);  // 18467 mod 10, 6334 mod 10
}

TEST(FormulaRandom, RandAndFrandStayInTheirRanges) {
    Formula f;
    for (int i = 0; i < 2000; ++i) {
        const double r = f.evaluate("r-5)");
        ASSERT_TRUE(r >= -4 && r <= 0 && r == std::trunc(r)) << r;
        const double p = f.evaluate("r7.9)");
        ASSERT_TRUE(p >= 0 && p <= 6) << p;
        const double q = f.evaluate("f2)");
        ASSERT_TRUE(q >= 0 && q <= 2) << q;
    }
}

}  // namespace
}  // namespace qel
