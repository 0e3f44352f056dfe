#include "core/expr/compiled_formula.h"

#include <charconv>
#include <cmath>

namespace qel {

namespace {

constexpr int kMaxRecursion = static_cast<int>(kMaxFormulaLength) + 8;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool readSign(const char*& p) {
    if (*p == '-') { ++p; return true; }
    if (*p == '+') ++p;
    return false;
}

}  // namespace

void CompiledFormula::emit(Op op, char code, double value) {
    steps_.push_back({op, code, value});
    switch (op) {
    case Op::Const: case Op::X: case Op::Y: case Op::Z: ++depth_; break;
    case Op::Function2: case Op::Power: case Op::Divide: case Op::Multiply: case Op::Subtract: case Op::Add: --depth_; break;
    default: break;
    }
    if (depth_ > maxDepth_) maxDepth_ = depth_;
}

// Mirrors the text evaluator's descent step by step, emitting instead of computing.
void CompiledFormula::walk(const char*& p, int level, int depth) {
    if (depth > kMaxRecursion) {
        emit(Op::Const);
        return;
    }
    const char c = *p;
    if (isDigit(c)) {
        emit(Op::Const, 0, readFormulaNumber(p));
    } else if (c == '(') {
        ++p;
        walk(p, 0, depth + 1);
    } else if (c == 'x' || c == 'y' || c == 'z') {
        emit(c == 'x' ? Op::X : c == 'y' ? Op::Y : Op::Z);
        ++p;
    } else if (Formula::isCodeLetter(c)) {
        ++p;
        walk(p, 0, depth + 1);
        if (Formula::isTwoArgumentCode(c)) {
            walk(p, 0, depth + 1);
            emit(Op::Function2, c);
        } else {
            emit(Op::Function1, c);
        }
    } else {
        emit(Op::Const);
    }
    if (*p == '!') {
        emit(Op::Factorial);
        ++p;
    } else if (*p == '^') {
        ++p;
        const bool negate = readSign(p);
        walk(p, 2, depth + 1);
        if (negate) emit(Op::Negate);
        emit(Op::Power);
    }
    if (level == 2) return;
    while (*p == '/') {
        ++p;
        const bool negate = readSign(p);
        walk(p, 2, depth + 1);
        if (negate) emit(Op::Negate);
        emit(Op::Divide);
    }
    if (*p == '*') {
        ++p;
        const bool negate = readSign(p);
        walk(p, 1, depth + 1);
        if (negate) emit(Op::Negate);
        emit(Op::Multiply);
    }
    if (level == 1) return;
    while (*p == '-') {
        ++p;
        walk(p, 1, depth + 1);
        emit(Op::Subtract);
    }
    if (*p == '+') {
        ++p;
        walk(p, 0, depth + 1);
        emit(Op::Add);
        return;
    }
    if (*p == ')' || *p == ',') ++p;
}

bool CompiledFormula::compile(const char* compact) {
    steps_.clear();
    depth_ = maxDepth_ = 0;
    const char* p = compact;
    walk(p, 0, 0);
    if (maxDepth_ > kStackSize) {
        steps_.clear();
        return false;
    }
    return true;
}

double CompiledFormula::evaluate(const Formula& vars) const {
    double stack[kStackSize];
    int top = -1;  // index of the top value
    for (const Step& s : steps_) {
        switch (s.op) {
        case Op::Const: stack[++top] = s.value; break;
        case Op::X: stack[++top] = vars.x; break;
        case Op::Y: stack[++top] = vars.y; break;
        case Op::Z: stack[++top] = vars.z; break;
        case Op::Function1: stack[top] = Formula::applyFunction(s.code, stack[top]); break;
        case Op::Function2:
            --top;
            stack[top] = Formula::applyFunction(s.code, stack[top], stack[top + 1]);
            break;
        case Op::Factorial: stack[top] = Formula::factorial(stack[top]); break;
        case Op::Negate: stack[top] = -stack[top]; break;
        case Op::Power: --top; stack[top] = std::pow(stack[top], stack[top + 1]); break;
        case Op::Divide: {
            --top;
            double d = stack[top + 1];
            if (d == 0) d = 0.01;
            stack[top] = stack[top] / d;
            break;
        }
        case Op::Multiply: --top; stack[top] = stack[top + 1] * stack[top]; break;
        case Op::Subtract: --top; stack[top] = stack[top] - stack[top + 1]; break;
        case Op::Add: --top; stack[top] = stack[top] + stack[top + 1]; break;
        }
    }
    return top >= 0 ? stack[top] : 0;
}

}  // namespace qel
