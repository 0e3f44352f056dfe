// Tiny pictures written as text rows (top row first), for table-driven tests
// that assert exact bytes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/image/dib_image.h"

namespace qel::test {

using Rows = std::vector<std::string>;

// An indexed picture (1, 4 or 8 bits): each character's index from `indices`,
// digits and a-f as hex indices when the map lacks them. `table` gives the colour
// table (its size becomes biClrUsed when `clrUsed` is true, else 0 and padded to
// the full depth with black).
std::unique_ptr<DibImage> makeIndexed(int bitCount, const Rows& rows, const std::vector<Rgb>& table,
                                      const std::map<char, int>& indices = {}, bool clrUsed = false);

// An 8-bit picture on the device table: '#' black (0), '.' white (215), other characters by `indices`.
std::unique_ptr<DibImage> makeLineArt(const Rows& rows, const std::map<char, int>& indices = {});

// A 24-bit picture: each character's colour from `colours`; '#' black and '.' white when absent.
std::unique_ptr<DibImage> make24(const Rows& rows, const std::map<char, Rgb>& colours = {});

// The picture back as text: indexed pictures by index (names maps index to character,
// otherwise hex digits), 24-bit pictures by colour (names maps colour to character, '?' when absent).
Rows indexRows(const DibImage& img, const std::map<int, char>& names = {});
Rows lineArtRows(const DibImage& img, const std::map<int, char>& names = {});  // 0 '#', 215 '.'
Rows colourRows(const DibImage& img, const std::map<char, Rgb>& colours = {});

// Bytes of a BMP file assembled from parts, for reader tests.
std::vector<uint8_t> bmpFile(const BitmapInfoHeader& h, const std::vector<uint8_t>& table,
                             const std::vector<uint8_t>& pixels);

// A temporary directory removed at destruction.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::string& path);
// Peak memory, in KB above what it starts with, of a child process loading the bytes as a
// picture; the child's exit status is 0 when the picture was refused.
long peakKbOfRefusedLoad(const std::vector<uint8_t>& file, int* status);

}  // namespace qel::test
