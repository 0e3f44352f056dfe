// The formula family's operations: the calculator and the transform by formulas.
#include "core/expr/calculator.h"
#include "core/expr/transform.h"
#include "core/ops/operation.h"

namespace qel {

namespace {

using Field = OperationField;
using FieldKind = OperationField::Kind;

// --transform=XF;YF;ZF[;WR,WG,WB[;forward]]
std::string splitTransform(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>& groups) {
    const auto parts = splitText(text, ';');
    if (parts.size() < 3 || parts.size() > 5) return "{option} needs XF;YF;ZF[;WR,WG,WB[;forward]]";
    fields.assign(parts.begin(), parts.begin() + 3);
    if (parts.size() >= 4) {
        const auto weights = splitText(parts[3], ',');
        if (weights.size() != 3) return "{option}: weights must be WR,WG,WB";
        fields.insert(fields.end(), weights.begin(), weights.end());
    }
    if (parts.size() == 5) fields.push_back(parts[4]);
    groups = fields;
    return {};
}

std::string buildTransform(const FieldValues& f, const DibImage&, std::any& record) {
    const auto text = [&](size_t i) { return std::get<std::string>(f[i]); };
    const auto weight = [&](size_t i) { return float(std::get<double>(f[i])); };
    record = TransformSettings{.formulaX = text(0), .formulaY = text(1), .formulaZ = text(2), .weightRed = weight(3),
                               .weightGreen = weight(4), .weightBlue = weight(5), .inverseTransform = std::get<bool>(f[6]) ? 0 : 1};
    return {};
}

bool validFormula(std::string_view text) { return formulaIsValid(text); }

Field::Read readWeight(std::string_view text, double& value) {
    float w = 0;
    const WeightCheck check = parseWeight(text, w);
    value = w;
    return check == WeightCheck::Ok ? Field::Read::Ok : check == WeightCheck::NotANumber ? Field::Read::NotNumber : Field::Read::OutOfRange;
}

Field formula(const char* name, const char* initial, const char* outOfRange, const char* invalid, const char* help) {
    return {.name = name, .kind = FieldKind::Text, .max = kFormulaFieldMaxChars, .initial = initial, .help = help,
            .outOfRange = outOfRange, .invalid = invalid, .valid = validFormula};
}

Field weight(const char* name, const char* outOfRange, const char* notNumber, const char* help) {
    return {.name = name, .kind = FieldKind::Real, .min = kWeightMin, .max = kWeightMax, .initial = "1", .group = "weights",
            .help = help, .outOfRange = outOfRange, .notNumber = notNumber, .readReal = readWeight};
}

}  // namespace

const std::vector<Operation>& exprOperations() {
    using Kind = OperationArg::Kind;
    static const std::vector<Operation> ops = {
        {.name = "calc", .arg = {.kind = Kind::Text, .valueName = "FORMULA", .help = "the formula",
                 .example = "1+2*sin(30)"},
         .help = "print the calculator's answer for FORMULA (x=3.141592, y=2.718282, z=0)", .rule = cmd::Rule::Always,
         .snapshot = false, .standalone = true, .reports = true,
         .run = [](OperationRun& r) {
             if (r.out) *r.out << calculatorAnswer(r.arg<std::string>()) << "\n";
             return OpResult::unchanged("printed");
         }},
        {.name = "transform",
         .arg = {.kind = Kind::Record, .valueName = "XF;YF;ZF[;WR,WG,WB[;forward]]",
                 .fields = {formula("x", "x", "{option}: formula x'={value} is longer than {max} characters",
                                    "{option}: formula x'={value} is invalid", "x' in x, y, z"),
                            formula("y", "y", "{option}: formula y'={value} is longer than {max} characters",
                                    "{option}: formula y'={value} is invalid", "y' in x, y, z"),
                            formula("z", "0", "{option}: formula z'={value} is longer than {max} characters",
                                    "{option}: formula z'={value} is invalid", "the new grey level z'"),
                            weight("weight_red", "{option}: red weight {value} is outside -255 to 255",
                                   "{option}: red weight {value} is not a number", "the weights of red, green and blue in z"),
                            weight("weight_green", "{option}: green weight {value} is outside -255 to 255",
                                   "{option}: green weight {value} is not a number", "green"),
                            weight("weight_blue", "{option}: blue weight {value} is outside -255 to 255",
                                   "{option}: blue weight {value} is not a number", "blue"),
                            {.name = "forward", .kind = FieldKind::Flag, .initial = "", .word = "forward", .offWord = "inverse",
                             .help = "each source pixel goes to (x', y') instead of each destination taking from it",
                             .invalid = "{option}: mapping must be forward or inverse, not {value}"}},
                 .example = "x+1.5*sin(y*40);y-1;z+50", .split = splitTransform, .ruleCheck = OperationArg::RuleCheck::BeforeSplit, .build = buildTransform},
         .help = "move and recolour pixels by x'=, y'=, z'= (24-bit; inverse mapping unless forward)",
         .doc = "move and recolour the pixels of a 24-bit picture by formulas for x', y' and the grey level z'",
         .rule = cmd::Rule::Depth24, .command = cmd::ID_TRANSFORM,
         .run = [](OperationRun& r) { return transformByFormula(r.image, r.arg<TransformSettings>()); }},
    };
    return ops;
}

}  // namespace qel
