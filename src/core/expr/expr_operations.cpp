// The formula family's operations: the calculator and the transform by formulas.
#include "core/expr/calculator.h"
#include "core/expr/transform.h"
#include "core/ops/operation.h"

namespace qel {

const std::vector<Operation>& exprOperations() {
    using Kind = OperationArg::Kind;
    static const std::vector<Operation> ops = {
        {.name = "calc", .arg = {.kind = Kind::Text, .valueName = "FORMULA"},
         .help = "print the calculator's answer for FORMULA (x=3.141592, y=2.718282, z=0)", .rule = cmd::Rule::Always,
         .snapshot = false, .standalone = true, .reports = true,
         .run = [](OperationRun& r) {
             if (r.out) *r.out << calculatorAnswer(r.arg<std::string>()) << "\n";
             return OpResult::unchanged("printed");
         }},
        {.name = "transform", .arg = {.kind = Kind::Record, .valueName = "XF;YF;ZF[;WR,WG,WB[;forward]]"},
         .help = "move and recolour pixels by x'=, y'=, z'= (24-bit; inverse mapping unless forward)",
         .rule = cmd::Rule::Depth24, .command = cmd::ID_TRANSFORM,
         .run = [](OperationRun& r) { return transformByFormula(r.image, r.arg<TransformSettings>()); }},
    };
    return ops;
}

}  // namespace qel
