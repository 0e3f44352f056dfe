#include <iostream>

#include "cli/batch.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return qel::batch::runBatch(args, std::cout, std::cerr);
}
