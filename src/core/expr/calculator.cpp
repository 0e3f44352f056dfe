#include "core/expr/calculator.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "core/expr/formula.h"

namespace qel {

std::string formatFixed6(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];  // the largest double has 309 integer digits
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (ec != std::errc()) return "nan";
    return std::string(buffer, end);
}

namespace {

// A writable NUL-terminated copy of the typed text, as the dialogs' working buffers are.
std::vector<char> workingBuffer(std::string_view typed) {
    std::vector<char> buffer(typed.begin(), typed.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace

std::string calculatorAnswer(std::string_view typed) {
    auto buffer = workingBuffer(typed);
    Formula f;
    f.reset();
    Formula::normalise(buffer.data());
    if (!Formula::validate(buffer.data())) return kInvalidFormulaAnswer;
    f.setVariables(kCalculatorX, kCalculatorY, kCalculatorZ);
    return formatFixed6(f.evaluate(buffer.data()));
}

bool formulaIsValid(std::string_view typed) {
    auto buffer = workingBuffer(typed);
    Formula::normalise(buffer.data());
    return Formula::validate(buffer.data()) == 1;
}

}  // namespace qel
