// Fuzzes normalise + validate + evaluate on arbitrary text, and checks that the
// stored program evaluates every text exactly as reading the text does: the raw
// input (unchecked, so also deeper than any accepted formula) and, when it is
// accepted, its compact form; and run over a row of pixels at once, each as alone.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/expr/compiled_formula.h"
#include "core/expr/formula.h"

namespace {

void expectSameValues(const char* text) {
    qel::Formula f;
    f.setVariables(3.5, -2.25, 7);
    const uint32_t state = qel::randomStateForTesting();
    const double byText = f.evaluate(text);
    const uint32_t stateByText = qel::randomStateForTesting();
    qel::CompiledFormula compiled;
    if (!compiled.compile(text)) __builtin_trap();
    qel::setRandomStateForTesting(state);
    const double byProgram = compiled.evaluate(f);
    if (qel::randomStateForTesting() != stateByText) __builtin_trap();
    if (!(std::isnan(byText) && std::isnan(byProgram)) && std::memcmp(&byText, &byProgram, sizeof byText) != 0)
        __builtin_trap();
    // A row at once (the transform's path for formulas without random numbers): the same values.
    if (qel::Formula::drawsRandom(text)) return;
    const double xs[3] = {3.5, 0, -1}, zs[3] = {7, 0, 2};
    double many[3];
    std::vector<double> scratch;
    compiled.evaluateMany(xs, -2.25, zs, 3, many, scratch);
    for (int i = 0; i < 3; ++i) {
        f.setVariables(xs[i], -2.25, zs[i]);
        const double one = compiled.evaluate(f);
        if (!(std::isnan(one) && std::isnan(many[i])) && std::memcmp(&one, &many[i], sizeof one) != 0) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1000) return 0;
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    expectSameValues(text.data());
    qel::Formula::normalise(text.data());
    if (qel::Formula::validate(text.data())) expectSameValues(text.data());
    return 0;
}
