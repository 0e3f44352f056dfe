// Fuzzes the formula file reader, then checks and evaluates whatever it read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/expr/calculator.h"
#include "core/expr/formula_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qel::FormulaFileFields fields;
    qel::readFormulaFileText(text, fields);
    qel::formulaFileText(fields);
    return 0;
}
