#include <iostream>
#include <new>

#include "cli/batch.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return qel::batch::runBatch(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        // Reading or writing a picture too large for the memory left; no output file has been written.
        std::cerr << "qel-batch: not enough memory to hold the picture (メモリーが不足しています。)\n";
        return qel::batch::kExitInput;
    }
}
