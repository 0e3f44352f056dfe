// qel-batch run in process with its printed output and errors captured, for the command-line tests.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"

namespace qel::test {

struct BatchRun {
    int status;
    std::string out, err;
};

inline BatchRun runCli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = batch::runBatch(args, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace qel::test
