// Joining JPEG bands into one file with Huffman tables fitted to the whole picture.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace qel::codec {

// MCU rows in each band but the last: a multiple of 8, so the restart markers a band's own
// coder numbers from 0 carry the numbers they have in the joined scan.
inline constexpr int kJpegBandMcuRows = 8;

// `bands` are baseline JPEG files of consecutive bands of one picture, top first, written by one
// coder with the same settings and a restart marker after every MCU row, each band but the last
// kJpegBandMcuRows MCU rows high. Returns the file of the whole picture (`height` rows) with
// optimal Huffman tables: the bands' symbols are counted, tables made from the counts and every
// band's data recoded with them, bands on several threads. Nothing when a band is not such a file.
std::optional<std::vector<uint8_t>> joinJpegBands(const std::vector<std::span<const uint8_t>>& bands, int height);
// The same, the file handed to `write` in order as it is made (a false from it ends the join) and
// `done(b)` told once band b is not read again, so neither the joined file nor all recoded bands
// are held at once. Bands that do not join are refused before anything is written.
enum class JoinOutcome { Joined, NotBands, NotWritten };
JoinOutcome joinJpegBands(const std::vector<std::span<const uint8_t>>& bands, int height,
                          const std::function<bool(const uint8_t*, size_t)>& write,
                          const std::function<void(size_t)>& done = {});

}  // namespace qel::codec
