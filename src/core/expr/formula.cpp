#include "core/expr/formula.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qel {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kFrandScale = 3.0518509447574615e-05;  // the float nearest 1/32767
// Recursion never goes deeper than the text is long; this only guards texts that skipped validate.
constexpr int kMaxDepth = static_cast<int>(kMaxFormulaLength) + 8;

uint32_t randomState = 1;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isVariable(char c) { return c == 'x' || c == 'y' || c == 'z'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

struct FunctionName {
    const char* name;
    char code;
};
// In the order normalise tries them at each offset.
constexpr FunctionName kNames[] = {
    {"sin(", 's'},  {"cos(", 'c'},  {"tan(", 't'},   {"sinh(", 'S'},  {"cosh(", 'C'},  {"tanh(", 'T'},
    {"asin(", 'i'}, {"acos(", 'o'}, {"atan(", 'a'},  {"sqrt(", 'q'},  {"ln(", 'l'},    {"exp(", 'e'},
    {"rand(", 'r'}, {"frand(", 'f'}, {"delta(", 'D'}, {"step(", 'H'},  {"abs(", 'A'},   {"fmod(", 'm'},
    {"log(", 'L'},  {"hypot(", 'h'}, {"max(", 'B'},   {"min(", 'b'},
};

bool startsWith(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (*text != *prefix) return false;
    return true;
}

}  // namespace

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

namespace {

// An optional sign in front of the operand of "*", "/" or "^": consumed, true when it negates.
bool readSign(const char*& p) {
    if (*p == '-') { ++p; return true; }
    if (*p == '+') ++p;
    return false;
}

double walk(const Formula& f, const char*& p, int level, int depth) {
    if (depth > kMaxDepth) return 0;
    double v = 0;
    const char c = *p;
    // Primary.
    if (isDigit(c)) {
        v = readFormulaNumber(p);
    } else if (c == '(') {
        ++p;
        v = walk(f, p, 0, depth + 1);
    } else if (isVariable(c)) {
        v = c == 'x' ? f.x : c == 'y' ? f.y : f.z;
        ++p;
    } else if (Formula::isCodeLetter(c)) {
        ++p;
        const double a = walk(f, p, 0, depth + 1);
        const double b = Formula::isTwoArgumentCode(c) ? walk(f, p, 0, depth + 1) : 0;
        v = Formula::applyFunction(c, a, b);
    }
    // Postfix: at most one of "!" and "^".
    if (*p == '!') {
        v = Formula::factorial(v);
        ++p;
    } else if (*p == '^') {
        ++p;
        const bool negate = readSign(p);
        double e = walk(f, p, 2, depth + 1);
        if (negate) e = -e;
        v = std::pow(v, e);
    }
    if (level == 2) return v;
    while (*p == '/') {
        ++p;
        const bool negate = readSign(p);
        double d = walk(f, p, 2, depth + 1);
        if (negate) d = -d;
        if (d == 0) d = 0.01;
        v = v / d;
    }
    if (*p == '*') {
        ++p;
        const bool negate = readSign(p);
        double t = walk(f, p, 1, depth + 1);
        if (negate) t = -t;
        v = t * v;
    }
    if (level == 1) return v;
    while (*p == '-') {
        ++p;
        v = v - walk(f, p, 1, depth + 1);
    }
    if (*p == '+') {
        ++p;
        return v + walk(f, p, 0, depth + 1);
    }
    if (*p == ')' || *p == ',') ++p;
    return v;
}

}  // namespace

int nextRandom() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFF);
}
uint32_t randomStateForTesting() { return randomState; }
void setRandomStateForTesting(uint32_t state) { randomState = state; }

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
    // ending in a shorter one is taken whole. Names end in "(", so at most one matches.
    char* out = text;
    const char* in = text;
    while (*in) {
        char code = 0;
        size_t length = 0;
        for (const auto& n : kNames) {
            if (startsWith(in, n.name)) {
                code = n.code;
                length = std::strlen(n.name);
                break;
            }
        }
        if (code) {
            *out++ = code;
            in += length;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
    return text;
}

bool Formula::isTwoArgumentCode(char c) { return isOneOf(c, "DmLhBb"); }
bool Formula::isCodeLetter(char c) { return isOneOf(c, "sctSCTioaqlerfDHAmLhBb"); }

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

double Formula::evaluate(const char* pos, int level, const char** stop) const {
    const char* p = pos;
    const double v = walk(*this, p, level, 0);
    if (stop) *stop = p;
    return v;
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

double Formula::applyFunction(char code, double a, double b) {
    switch (code) {
    case 's': return std::sin(a * kRadiansPerDegree);
    case 'c': return std::cos(a * kRadiansPerDegree);
    case 't': return std::tan(a * kRadiansPerDegree);
    case 'S': return std::sinh(a);
    case 'C': return std::cosh(a);
    case 'T': return std::tanh(a);
    case 'i': return (a < -1 || a > 1) ? 0 : std::asin(a) * kDegreesPerRadian;
    case 'o': return (a < -1 || a > 1) ? 0 : std::acos(a) * kDegreesPerRadian;
    case 'a': return std::atan(a) * kDegreesPerRadian;
    case 'q': return a < 0 ? 0 : std::sqrt(a);
    case 'l': return a <= 0 ? 0 : std::log(a);
    case 'e': return std::exp(a);
    case 'r': return randomBelow(truncToInt32(a));
    case 'f': return nextRandom() * kFrandScale * a;
    case 'D': return (-b < a && a < b) ? 1 : 0;
    case 'H': return a >= 0 ? 1 : 0;
    case 'A': return absolute(a);
    case 'm': return std::fmod(a, b);
    case 'L': return logBase(a, b);
    case 'h': return std::hypot(a, b);
    case 'B': return a > b ? a : b;
    case 'b': return a < b ? a : b;
    default: return 0;
    }
}

}  // namespace qel
