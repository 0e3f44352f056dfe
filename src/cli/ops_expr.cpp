// qel-batch options of the formula language: the calculator and the transform by formula.
#include <string_view>
#include <vector>

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/expr/calculator.h"
#include "core/expr/transform.h"

namespace qel::batch {

namespace {

// Reads "XF;YF;ZF[;WR,WG,WB[;forward|inverse]]" into settings, as the dialog's OK would accept them.
Result parseTransform(const std::string& value, TransformSettings& s) {
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

void registerExprOperations(Registry& r) {
    r.push_back({"--calc", Operation::Arg::Required, "FORMULA",
                 "print the calculator's answer for FORMULA (x=3.141592, y=2.718282, z=0)",
                 [](Context& ctx, const std::string& value) -> Result {
                     *ctx.out << calculatorAnswer(value) << "\n";
                     return std::nullopt;
                 },
                 /*standalone=*/true});
    r.push_back({"--transform", Operation::Arg::Required, "XF;YF;ZF[;WR,WG,WB[;forward]]",
                 "move and recolour pixels by x'=, y'=, z'= (24-bit; inverse mapping unless forward)",
                 [](Context& ctx, const std::string& value) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     TransformSettings settings;
                     if (auto f = parseTransform(value, settings)) return f;
                     ctx.takeSnapshot();
                     return reportRefusal("--transform", transformByFormula(ctx.image, settings));
                 }});
    r.back().command = cmd::ID_TRANSFORM;
}

}  // namespace qel::batch
