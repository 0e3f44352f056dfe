// Fuzzes normalise + validate + evaluate on arbitrary text, and checks that the
// compiled program evaluates accepted formulas exactly as the text walker does.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/expr/compiled_formula.h"
#include "core/expr/formula.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1000) return 0;
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    qel::Formula f;
    f.setVariables(3.5, -2.25, 7);
    qel::Formula::normalise(text.data());
    if (!qel::Formula::validate(text.data())) return 0;
    const uint32_t state = qel::randomStateForTesting();
    const double byText = f.evaluate(text.data());
    qel::CompiledFormula compiled;
    if (compiled.compile(text.data())) {
        qel::setRandomStateForTesting(state);
        const double byProgram = compiled.evaluate(f);
        if (!(std::isnan(byText) && std::isnan(byProgram)) && std::memcmp(&byText, &byProgram, sizeof byText) != 0)
            __builtin_trap();
    }
    return 0;
}
