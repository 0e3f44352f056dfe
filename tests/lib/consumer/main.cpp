// A program built against the installed library: a picture made, turned grey, saved and read back.
#include <iostream>

#include <qel/qel.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    qel::Picture pic = qel::Picture::create(2, 1, 24);
    pic.row(0)[2] = 0;  // the first pixel loses its red: cyan
    const qel::OpResult grey = pic.grey();
    pic.save(argv[1]);
    const qel::Picture back = qel::Picture::open(argv[1]);
    std::cout << back.width() << "x" << back.height() << " " << back.depth() << "-bit " << (grey.isChanged() ? "grey" : "?")
              << " " << int(back.row(0)[0]) << "," << int(back.row(0)[1]) << "," << int(back.row(0)[2]) << " "
              << qel::calc("1+2") << " " << qel::version() << "\n";
    return 0;
}
