// The value of qel-batch's --transform.
#include <any>
#include <string_view>
#include <vector>

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/expr/calculator.h"
#include "core/expr/transform.h"

namespace qel::batch {

namespace {

// Reads "XF;YF;ZF[;WR,WG,WB[;forward|inverse]]" into settings, as the dialog's OK would accept them.
Result readTransform(const std::string& value, TransformSettings& s) {
    const std::string op = "--transform";
    const auto parts = split(value, ';');
    if (parts.size() < 3 || parts.size() > 5)
        return fail(kExitUsage, op + " needs XF;YF;ZF[;WR,WG,WB[;forward]]");
    const char* labels[] = {"x'=", "y'=", "z'="};
    std::string* formulas[] = {&s.formulaX, &s.formulaY, &s.formulaZ};
    for (int i = 0; i < 3; ++i) {
        if (parts[i].size() > size_t(kFormulaFieldMaxChars))
            return fail(kExitUsage, op + ": formula " + labels[i] + parts[i] + " is longer than " +
                                        std::to_string(kFormulaFieldMaxChars) + " characters");
        if (!formulaIsValid(parts[i]))
            return fail(kExitUsage, op + ": formula " + labels[i] + parts[i] + " is invalid (式が不正です。)");
        *formulas[i] = parts[i];
    }
    if (parts.size() >= 4) {
        const auto weights = split(parts[3], ',');
        if (weights.size() != 3) return fail(kExitUsage, op + ": weights must be WR,WG,WB");
        const char* names[] = {"red", "green", "blue"};
        float* targets[] = {&s.weightRed, &s.weightGreen, &s.weightBlue};
        for (int i = 0; i < 3; ++i) {
            switch (parseWeight(weights[i], *targets[i])) {
            case WeightCheck::Ok: break;
            case WeightCheck::NotANumber:
                return fail(kExitUsage, op + ": " + names[i] + " weight " + weights[i] + " is not a number");
            case WeightCheck::OutOfRange:
                return fail(kExitUsage, op + ": " + names[i] + " weight " + weights[i] + " is outside -255 to 255");
            }
        }
    }
    if (parts.size() == 5) {
        if (parts[4] == "forward") s.inverseTransform = 0;
        else if (parts[4] == "inverse") s.inverseTransform = 1;
        else return fail(kExitUsage, op + ": mapping must be forward or inverse, not " + parts[4]);
    }
    return std::nullopt;
}

}  // namespace

Result parseTransform(Context& ctx, const std::string& value, std::any& record) {
    if (auto f = requireEnabled(ctx)) return f;
    TransformSettings settings;
    if (auto f = readTransform(value, settings)) return f;
    record = settings;
    return std::nullopt;
}

}  // namespace qel::batch
