#include "core/expr/formula.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>

namespace qel {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kFrandScale = 3.0518509447574615e-05;  // the float nearest 1/32767

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isVariable(char c) { return c == 'x' || c == 'y' || c == 'z'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }
bool isCodeLetter(char c) { return builtInFunction(c) != nullptr; }
bool isTwoArgumentCode(char c) {
    const BuiltInFunction* f = builtInFunction(c);
    return f && f->arity == 2;
}

// The trigonometric functions take and give degrees. A function with a domain
// test answers 0 outside its domain; the others follow IEEE arithmetic.
constexpr BuiltInFunction kBuiltIns[] = {
    {"sin", 's', 1, false, [](double a, double) { return std::sin(a * kRadiansPerDegree); }},
    {"cos", 'c', 1, false, [](double a, double) { return std::cos(a * kRadiansPerDegree); }},
    {"tan", 't', 1, false, [](double a, double) { return std::tan(a * kRadiansPerDegree); }},
    {"sinh", 'S', 1, false, [](double a, double) { return std::sinh(a); }},
    {"cosh", 'C', 1, false, [](double a, double) { return std::cosh(a); }},
    {"tanh", 'T', 1, false, [](double a, double) { return std::tanh(a); }},
    {"asin", 'i', 1, false, [](double a, double) { return (a < -1 || a > 1) ? 0 : std::asin(a) * kDegreesPerRadian; }},
    {"acos", 'o', 1, false, [](double a, double) { return (a < -1 || a > 1) ? 0 : std::acos(a) * kDegreesPerRadian; }},
    {"atan", 'a', 1, false, [](double a, double) { return std::atan(a) * kDegreesPerRadian; }},
    {"sqrt", 'q', 1, false, [](double a, double) { return a < 0 ? 0 : std::sqrt(a); }},
    {"ln", 'l', 1, false, [](double a, double) { return a <= 0 ? 0 : std::log(a); }},
    {"exp", 'e', 1, false, [](double a, double) { return std::exp(a); }},
    {"rand", 'r', 1, true, [](double a, double) -> double { return Formula::randomBelow(truncToInt32(a)); }},
    {"frand", 'f', 1, true, [](double a, double) { return nextRandom() * kFrandScale * a; }},
    {"delta", 'D', 2, false, [](double a, double b) -> double { return (-b < a && a < b) ? 1 : 0; }},
    {"step", 'H', 1, false, [](double a, double) -> double { return a >= 0 ? 1 : 0; }},
    {"abs", 'A', 1, false, [](double a, double) { return Formula::absolute(a); }},
    {"fmod", 'm', 2, false, [](double a, double b) { return std::fmod(a, b); }},
    {"log", 'L', 2, false, [](double a, double b) { return Formula::logBase(a, b); }},
    {"hypot", 'h', 2, false, [](double a, double b) { return std::hypot(a, b); }},
    {"max", 'B', 2, false, [](double a, double b) { return a > b ? a : b; }},
    {"min", 'b', 2, false, [](double a, double b) { return a < b ? a : b; }},
};

// Row of kBuiltIns by code letter, -1 for other characters.
constexpr auto kRowOfCode = [] {
    std::array<int8_t, 128> rows{};
    rows.fill(-1);
    for (size_t k = 0; k < std::size(kBuiltIns); ++k) rows[static_cast<unsigned char>(kBuiltIns[k].code)] = int8_t(k);
    return rows;
}();

// The length of the name at `text` followed directly by "(", else 0.
size_t callLength(const char* text, const char* name) {
    size_t k = 0;
    for (; name[k]; ++k)
        if (text[k] != name[k]) return 0;
    return text[k] == '(' ? k + 1 : 0;
}

}  // namespace

std::span<const BuiltInFunction> builtInFunctions() { return kBuiltIns; }

const BuiltInFunction* builtInFunction(char code) {
    const auto c = static_cast<unsigned char>(code);
    return c < kRowOfCode.size() && kRowOfCode[c] >= 0 ? &kBuiltIns[kRowOfCode[c]] : nullptr;
}

double readFormulaNumber(const char*& p) {
    const char* end = p;
    while (isDigit(*end)) ++end;
    const char* last = end;
    if (*end == '.') {
        ++end;
        while (isDigit(*end)) ++end;
        last = end;
    }
    double v = 0;
    std::from_chars(p, last, v, std::chars_format::fixed);
    p = end;
    return v;
}

char* Formula::removeSpaces(char* text) {
    char* out = text;
    for (const char* in = text; *in; ++in)
        if (*in != ' ') *out++ = *in;
    *out = '\0';
    return text;
}

char* Formula::normalise(char* text) {
    removeSpaces(text);
    // Left to right, each name tested at its own first letter, so a longer name
    // ending in a shorter one is taken whole. With its "(" no name is the start
    // of another, so at most one matches.
    char* out = text;
    const char* in = text;
    while (*in) {
        size_t length = 0;
        for (const auto& f : kBuiltIns) {
            if ((length = callLength(in, f.name)) != 0) {
                *out++ = f.code;
                break;
            }
        }
        if (length) in += length;
        else *out++ = *in++;
    }
    *out = '\0';
    return text;
}

bool Formula::drawsRandom(const char* text) {
    for (; *text; ++text)
        if (const BuiltInFunction* f = builtInFunction(*text); f && f->drawsRandom) return true;
    return false;
}

int Formula::argumentSpan(const char* t, int mode) {
    int open = 1;
    int pending = 1;
    for (int k = 0;; ++k) {
        const char c = t[k];
        if (c == '\0') return -1;
        if (c == '(' || (isAsciiLetter(c) && !isVariable(c))) ++open;
        if (isTwoArgumentCode(c)) ++pending;
        if (c == ',') --pending;
        if (c == ')') --open;
        if (open == 0 || (mode == 1 && pending == 0)) return k;
    }
}

int Formula::validate(const char* text) {
    const size_t n = std::strlen(text);
    if (n == 0 || n > kMaxFormulaLength) return 0;
    if (isOneOf(text[0], "!^*/")) return 0;
    const char last = text[n - 1];
    if (!(isDigit(last) || isOneOf(last, ")!xyz"))) return 0;

    for (size_t k = 0; k + 1 < n; ++k) {
        const char p = text[k], q = text[k + 1];
        if (!(isDigit(p) || isCodeLetter(p) || isVariable(p) || isOneOf(p, ".()+-*/^!,"))) return 0;
        // A digit directly followed by "(" has no reading as a product, so it is refused.
        if (isDigit(p) && !isDigit(q) && !isOneOf(q, ".)*/+-^!,")) return 0;
        const bool closesOperand = isDigit(p) || isOneOf(p, "xyz)!");
        if (!closesOperand && isOneOf(q, "*/^!,")) return 0;
        if (isOneOf(p, "+-") && isOneOf(q, "+-")) return 0;
        if (isDigit(q) && isVariable(p)) return 0;
        if (isVariable(p) && !isDigit(q) && !isOneOf(q, "*/+-^!),")) return 0;
        if (!isDigit(p) && !isDigit(q) && !closesOperand && q == ')') return 0;
    }

    int depth = 0;
    for (size_t k = 0; k < n; ++k) {
        if (text[k] == '(' || isCodeLetter(text[k])) ++depth;
        if (text[k] == ')') --depth;
    }
    if (depth != 0) return 0;

    for (size_t k = 0; k < n; ++k) {
        if (!isTwoArgumentCode(text[k])) continue;
        const char* t = text + k + 1;
        const int a = argumentSpan(t, 1);
        const int d = argumentSpan(t, 0);
        if (a < 0 || d < 0 || a == d) return 0;
        const int e = argumentSpan(t + a + 1, 1);
        if (e < 0 || a + e != d - 1) return 0;
    }
    return 1;
}

int32_t Formula::factorial(double v) {
    const int32_t n = truncToInt32(v);
    if (n == 0) return 1;
    if (n < 0) return n;
    uint32_t r = static_cast<uint32_t>(n);
    // Once the product wraps to 0 it stays 0 (from 34! on), so large n ends early.
    for (int32_t k = n - 1; k >= 1 && r != 0; --k) r *= static_cast<uint32_t>(k);
    return static_cast<int32_t>(r);
}

double Formula::logBase(double base, double value) { return std::log10(value) / std::log10(base); }

double Formula::absolute(double v) { return std::fabs(v); }

int32_t Formula::randomBelow(int32_t n) {
    if (n == 0) return 0;
    const int64_t m = n < 0 ? -static_cast<int64_t>(n) : n;
    const auto k = static_cast<int32_t>(nextRandom() % m);
    return n > 0 ? k : -k;
}

}  // namespace qel
