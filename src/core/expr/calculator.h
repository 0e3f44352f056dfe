// The calculator's answer, shared by the calculator dialog and qel-batch --calc.
#pragma once

#include <string>
#include <string_view>

namespace qel {

// The variables the calculator evaluates with.
constexpr double kCalculatorX = 3.141592;
constexpr double kCalculatorY = 2.718282;
constexpr double kCalculatorZ = 0;
// The answer shown for a formula that does not validate.
inline constexpr const char* kInvalidFormulaAnswer = "数式が不正です。";

// Formats like printf("%f") in the C locale, whatever the process locale is;
// NaN shows as "nan" and infinities as "inf" or "-inf".
std::string formatFixed6(double value);

// Normalises, validates and evaluates the typed formula with x, y, z above and
// returns the text of the answer field: the value as "%f", or kInvalidFormulaAnswer.
std::string calculatorAnswer(std::string_view typed);

// True when the typed text normalises to a formula that validates (the check
// on leaving a formula field of the transform dialog).
bool formulaIsValid(std::string_view typed);

}  // namespace qel
