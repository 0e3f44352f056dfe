// The postfix programs must give exactly the text evaluator's values, random draws included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/expr/compiled_formula.h"
#include "core/expr/formula.h"

namespace qel {
namespace {

// Compares both evaluators on one compact text over a few variable sets.
void expectSameValues(const std::string& compact) {
    CompiledFormula program;
    ASSERT_TRUE(program.compile(compact.c_str())) << compact;
    Formula f;
    const double vars[][3] = {{0, 0, 0}, {3.141592, 2.718282, 0}, {-7, 12.5, 1e6}, {99, -0.25, -3}};
    for (const auto& v : vars) {
        f.setVariables(v[0], v[1], v[2]);
        setRandomStateForTesting(12345);
        const double walked = f.evaluate(compact.c_str());
        const uint32_t stateWalked = randomStateForTesting();
        setRandomStateForTesting(12345);
        const double run = program.evaluate(f);
        ASSERT_EQ(randomStateForTesting(), stateWalked) << compact;
        ASSERT_TRUE(std::memcmp(&walked, &run, sizeof walked) == 0 || (std::isnan(walked) && std::isnan(run)))
            << compact << ": " << walked << " vs " << run;
    }
    // Many pixels at once (a row of the transform): the same values, each pixel with its own x and z.
    if (Formula::drawsRandom(compact.c_str())) return;
    const double xs[] = {0, 3.141592, -7, 99, 0}, zs[] = {0, 0, 1e6, -3, 2};
    std::vector<double> scratch;
    for (const double y : {0.0, 2.718282, 12.5, -0.25}) {
        double many[5];
        program.evaluateMany(xs, y, zs, 5, many, scratch);
        for (int i = 0; i < 5; ++i) {
            f.setVariables(xs[i], y, zs[i]);
            const double one = program.evaluate(f);
            ASSERT_TRUE(std::memcmp(&one, &many[i], sizeof one) == 0 || (std::isnan(one) && std::isnan(many[i])))
                << compact << " at x=" << xs[i] << " y=" << y << ": " << one << " vs " << many[i];
        }
    }
}

// Random typed formulas from a small grammar, with the quirks the evaluator has to reproduce.
struct Generator {
    std::mt19937 gen{20240607};
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen); }

    // The built-in functions' names by arity.
    std::vector<std::string> names[3];
    Generator() {
        for (const BuiltInFunction& f : builtInFunctions()) names[f.arity].push_back(f.name);
    }
    std::string function(int arity) {
        return names[arity][pick(static_cast<int>(names[arity].size()))];
    }

    std::string operand(int depth) {
        static const char* numbers[] = {"0", "1", "2", "3", "0.5", "10", "1.5", "12.25", "7"};
        const int k = depth > 3 ? pick(2) : pick(6);
        switch (k) {
        case 0: return numbers[pick(9)];
        case 1: return std::string(1, "xyz"[pick(3)]);
        case 2: return '(' + expression(depth + 1) + ")";
        case 3: return function(1) + "(" + expression(depth + 1) + ")";
        case 4: return function(2) + "(" + expression(depth + 1) + "," + expression(depth + 1) + ")";
        default: return '(' + expression(depth + 1) + ")";
        }
    }
    std::string factor(int depth) {
        std::string s = operand(depth);
        const int k = pick(6);
        if (k == 0) s += "!";
        if (k == 1) s += '^' + std::string(pick(3) == 0 ? "-" : "") + operand(depth + 1);
        return s;
    }
    std::string expression(int depth) {
        std::string s = pick(4) == 0 ? "-" : "";
        s += factor(depth);
        const int terms = pick(depth > 2 ? 2 : 4);
        for (int i = 0; i < terms; ++i) {
            static const char* ops[] = {"+", "-", "*", "/", "*-", "/-", "/+"};
            s += ops[pick(7)];
            s += factor(depth);
        }
        return s;
    }
};

TEST(CompiledFormula, MatchesTheTextEvaluatorOnRandomFormulas) {
    Generator g;
    int checked = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string typed = g.expression(0);
        std::vector<char> b(typed.begin(), typed.end());
        b.push_back('\0');
        Formula::normalise(b.data());
        if (!Formula::validate(b.data())) continue;
        expectSameValues(b.data());
        ++checked;
    }
    EXPECT_GT(checked, 2000);
}

TEST(CompiledFormula, MatchesTheTextEvaluatorOnRandomAcceptedTexts) {
    // Character soup that happens to validate: unbalanced groupings, leftovers, stray commas.
    const char alphabet[] = "0123.xyz()+-*/^!,sBDfr";
    std::mt19937 gen(99);
    int checked = 0;
    for (int i = 0; i < 300000 && checked < 3000; ++i) {
        std::string text;
        const int len = 1 + static_cast<int>(gen() % 12);
        for (int k = 0; k < len; ++k) text += alphabet[gen() % (sizeof alphabet - 1)];
        if (!Formula::validate(text.c_str())) continue;
        expectSameValues(text);
        ++checked;
    }
    EXPECT_GT(checked, 500);
}

TEST(CompiledFormula, HandlesTheLongestAcceptedNesting) {
    std::string deep = std::string(127, '(') + "x" + std::string(127, ')');
    ASSERT_EQ(Formula::validate(deep.c_str()), 1);
    expectSameValues(deep);
    std::string chain = "1";
    while (chain.size() < 253) chain += "^1";
    ASSERT_EQ(Formula::validate(chain.c_str()), 1);
    expectSameValues(chain);
}

TEST(CompiledFormula, UncheckedTextsNestedPastTheLimitStillFitTheStack) {
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    for (const std::string& text : {repeat("m", 2000), repeat("(", 2000) + "1", repeat("1^", 1000) + "1",
                                    repeat("1+", 1000) + "1", repeat("m1,", 1000) + "1", repeat("2*-", 1000) + "x"})
        expectSameValues(text);
}

}  // namespace
}  // namespace qel
