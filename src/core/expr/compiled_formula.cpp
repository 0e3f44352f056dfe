#include "core/expr/compiled_formula.h"

#include <algorithm>
#include <cmath>

namespace qel {

namespace {

using Op = CompiledFormula::Op;
using Step = CompiledFormula::Step;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The recursive descent over a compact text. Every step of the postfix program
// goes to `emit` as soon as it is known. The descent never looks at a value, so
// running each step as it is emitted gives what running the stored steps gives.
// A leftover character ends a level without being read, and a missing operand
// is the empty primary, of value 0: a leading sign means 0 - x.
template <class Emit>
class Descent {
public:
    Descent(const char* text, Emit& emit) : p_(text), emit_(emit) {}
    const char* position() const { return p_; }

    // expression = term { "-" term } ( "+" expression | [ ")" | "," ] )
    // A "+" takes the whole rest as its right operand: a - b + c - d = (a - b) + (c - d).
    void expression(int depth) {
        if (tooDeep(depth)) return;
        term(depth);
        while (*p_ == '-') {
            ++p_;
            term(depth + 1);
            emit(Op::Subtract);
        }
        if (*p_ == '+') {
            ++p_;
            expression(depth + 1);
            emit(Op::Add);
            return;
        }
        if (*p_ == ')' || *p_ == ',') ++p_;
    }

    // term = factor { "/" signed-factor } [ "*" signed-term ];  signed-X = [ "+" | "-" ] X
    // A divisor of 0 counts as 0.01; a*b/c is a*(b/c).
    void term(int depth) {
        if (tooDeep(depth)) return;
        factor(depth);
        while (*p_ == '/') {
            ++p_;
            signedOperand(&Descent::factor, depth + 1);
            emit(Op::Divide);
        }
        if (*p_ == '*') {
            ++p_;
            signedOperand(&Descent::term, depth + 1);
            emit(Op::Multiply);
        }
    }

    // factor = primary [ "!" | "^" signed-factor ]
    // Powers group to the right (2^3^2 = 512); a "^" or "!" after "!" is not read.
    void factor(int depth) {
        if (tooDeep(depth)) return;
        primary(depth);
        if (*p_ == '!') {
            ++p_;
            emit(Op::Factorial);
        } else if (*p_ == '^') {
            ++p_;
            signedOperand(&Descent::factor, depth + 1);
            emit(Op::Power);
        }
    }

    // primary = number | "x" | "y" | "z" | "(" expression | code-letter expression [ expression ] | empty
    // The expressions consume the ")" and "," that end them; a two-argument
    // function reads two.
    void primary(int depth) {
        const char c = *p_;
        if (isDigit(c)) {
            emit(Op::Const, readFormulaNumber(p_));
        } else if (c == '(') {
            ++p_;
            expression(depth + 1);
        } else if (c == 'x' || c == 'y' || c == 'z') {
            ++p_;
            emit(c == 'x' ? Op::X : c == 'y' ? Op::Y : Op::Z);
        } else if (const BuiltInFunction* f = builtInFunction(c)) {
            ++p_;
            for (int k = 0; k < f->arity; ++k) expression(depth + 1);
            emit(f->arity == 2 ? Op::Function2 : Op::Function1, 0, f);
        } else {
            emit(Op::Const);
        }
    }

private:
    void emit(Op op, double value = 0, const BuiltInFunction* function = nullptr) { emit_(Step{op, value, function}); }

    // Nesting is bounded by the text's length for any accepted text; the bound
    // guards unchecked ones, which then meet an empty primary.
    bool tooDeep(int depth) {
        if (depth <= CompiledFormula::kMaxNesting) return false;
        emit(Op::Const);
        return true;
    }

    // The operand after "*", "/" or "^", with the sign that may precede it.
    void signedOperand(void (Descent::*level)(int), int depth) {
        const bool negate = *p_ == '-';
        if (*p_ == '-' || *p_ == '+') ++p_;
        (this->*level)(depth);
        if (negate) emit(Op::Negate);
    }

    const char* p_;
    Emit& emit_;
};

// Runs steps on a value stack: the one place where the language's operations are computed.
class Machine {
public:
    explicit Machine(const Formula& vars) : vars_(vars) {}

    void run(const Step& s) {
        switch (s.op) {
        case Op::Const: push(s.value); break;
        case Op::X: push(vars_.x); break;
        case Op::Y: push(vars_.y); break;
        case Op::Z: push(vars_.z); break;
        case Op::Function1: stack_[top_] = s.function->apply(stack_[top_], 0); break;
        case Op::Function2: {
            const double b = pop();
            stack_[top_] = s.function->apply(stack_[top_], b);
            break;
        }
        case Op::Factorial: stack_[top_] = Formula::factorial(stack_[top_]); break;
        case Op::Negate: stack_[top_] = -stack_[top_]; break;
        case Op::Power: {
            const double e = pop();
            stack_[top_] = std::pow(stack_[top_], e);
            break;
        }
        case Op::Divide: {
            double d = pop();
            if (d == 0) d = 0.01;
            stack_[top_] = stack_[top_] / d;
            break;
        }
        case Op::Multiply: {
            const double t = pop();
            stack_[top_] = t * stack_[top_];
            break;
        }
        case Op::Subtract: {
            const double t = pop();
            stack_[top_] = stack_[top_] - t;
            break;
        }
        case Op::Add: {
            const double e = pop();
            stack_[top_] = stack_[top_] + e;
            break;
        }
        }
    }
    double result() const { return top_ >= 0 ? stack_[top_] : 0; }

private:
    void push(double v) { stack_[++top_] = v; }
    double pop() { return stack_[top_--]; }

    const Formula& vars_;
    double stack_[CompiledFormula::kStackSize];
    int top_ = -1;  // index of the top value
};

// How deep a program's stack grows, step by step.
int stackEffect(Op op) {
    switch (op) {
    case Op::Const: case Op::X: case Op::Y: case Op::Z: return 1;
    case Op::Function2: case Op::Power: case Op::Divide: case Op::Multiply: case Op::Subtract: case Op::Add: return -1;
    case Op::Function1: case Op::Factorial: case Op::Negate: return 0;
    }
    return 0;
}

}  // namespace

bool CompiledFormula::compile(const char* compact) {
    steps_.clear();
    int depth = 0, maxDepth = 0;
    auto store = [&](const Step& s) {
        steps_.push_back(s);
        depth += stackEffect(s.op);
        if (depth > maxDepth) maxDepth = depth;
    };
    Descent<decltype(store)>(compact, store).expression(0);
    if (maxDepth > kStackSize) {
        steps_.clear();
        return false;
    }
    maxDepth_ = maxDepth;
    return true;
}

namespace {

// A value of the many-pixel stack: one number for every pixel, or one per pixel.
struct Column {
    bool same = true;
    double value = 0;
    const double* values = nullptr;
};

// out[i] = f(a[i]) or f(a[i], b[i]) over n pixels, the operands being columns.
template <class F>
Column apply1(const Column& a, int n, double* out, F f) {
    if (a.same) return {true, f(a.value), nullptr};
    for (int i = 0; i < n; ++i) out[i] = f(a.values[i]);
    return {false, 0, out};
}
template <class F>
Column apply2(const Column& a, const Column& b, int n, double* out, F f) {
    if (a.same && b.same) return {true, f(a.value, b.value), nullptr};
    if (a.same)
        for (int i = 0; i < n; ++i) out[i] = f(a.value, b.values[i]);
    else if (b.same)
        for (int i = 0; i < n; ++i) out[i] = f(a.values[i], b.value);
    else
        for (int i = 0; i < n; ++i) out[i] = f(a.values[i], b.values[i]);
    return {false, 0, out};
}

}  // namespace

void CompiledFormula::evaluateMany(const double* xs, double y, const double* zs, int n, double* out,
                                   std::vector<double>& scratch) const {
    if (n <= 0) return;
    scratch.resize(size_t(std::max(maxDepth_, 1)) * size_t(n));
    Column stack[kStackSize];
    int top = -1;
    // The pixel values of stack place d are written to its own part of the scratch.
    const auto place = [&](int d) { return scratch.data() + size_t(d) * size_t(n); };
    for (const Step& s : steps_) {
        switch (s.op) {
        case Op::Const: stack[++top] = {true, s.value, nullptr}; break;
        case Op::X: stack[++top] = {false, 0, xs}; break;
        case Op::Y: stack[++top] = {true, y, nullptr}; break;
        case Op::Z: stack[++top] = zs ? Column{false, 0, zs} : Column{true, 0, nullptr}; break;
        case Op::Function1: {
            const BuiltInFunction* f = s.function;
            stack[top] = apply1(stack[top], n, place(top), [f](double a) { return f->apply(a, 0); });
            break;
        }
        case Op::Factorial:
            stack[top] = apply1(stack[top], n, place(top), [](double a) { return double(Formula::factorial(a)); });
            break;
        case Op::Negate: stack[top] = apply1(stack[top], n, place(top), [](double a) { return -a; }); break;
        default: {
            const Column b = stack[top--];
            Column& a = stack[top];
            double* o = place(top);
            switch (s.op) {
            case Op::Function2: {
                const BuiltInFunction* f = s.function;
                a = apply2(a, b, n, o, [f](double u, double v) { return f->apply(u, v); });
                break;
            }
            case Op::Power: a = apply2(a, b, n, o, [](double u, double v) { return std::pow(u, v); }); break;
            case Op::Divide: a = apply2(a, b, n, o, [](double u, double v) { return u / (v == 0 ? 0.01 : v); }); break;
            case Op::Multiply: a = apply2(a, b, n, o, [](double u, double v) { return v * u; }); break;
            case Op::Subtract: a = apply2(a, b, n, o, [](double u, double v) { return u - v; }); break;
            case Op::Add: a = apply2(a, b, n, o, [](double u, double v) { return u + v; }); break;
            default: break;
            }
        }
        }
    }
    if (top < 0) {
        std::fill(out, out + n, 0.0);
    } else if (stack[top].same) {
        std::fill(out, out + n, stack[top].value);
    } else {
        std::copy(stack[top].values, stack[top].values + n, out);
    }
}

double CompiledFormula::evaluate(const Formula& vars) const {
    Machine m(vars);
    for (const Step& s : steps_) m.run(s);
    return m.result();
}

double CompiledFormula::compileAndRun(const Formula& vars, const char* pos, int level, const char** stop) {
    Machine m(vars);
    auto run = [&m](const Step& s) { m.run(s); };
    Descent<decltype(run)> d(pos, run);
    if (level == 2) d.factor(0);
    else if (level == 1) d.term(0);
    else d.expression(0);
    if (stop) *stop = d.position();
    return m.result();
}

double Formula::evaluate(const char* pos, int level, const char** stop) const {
    return CompiledFormula::compileAndRun(*this, pos, level, stop);
}

}  // namespace qel
