// With QEL_FUZZ_VERBOSE set in the environment, a harness says on stderr why
// the code under test refused an input, one line each; silent otherwise.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qel::fuzz {

inline void sayWhy(const char* what, const std::string& reason) {
    static const bool verbose = std::getenv("QEL_FUZZ_VERBOSE") != nullptr;
    if (verbose && !reason.empty()) std::fprintf(stderr, "%s: %s\n", what, reason.c_str());
}

}  // namespace qel::fuzz
