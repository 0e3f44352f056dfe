// Whole-file reads and atomic writes shared by every file format of the core
// (pictures, palette files, formula files). A write goes to a temporary file
// beside the target and is renamed over it only when every byte is on disk, so
// a failure leaves the old file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/image/pixel_bytes.h"

namespace qel {

// Reads the whole file; false when it cannot be opened or read, or holds more than maxBytes.
template <class Bytes>
bool readFileBytes(const std::string& path, Bytes& out, size_t maxBytes = SIZE_MAX);
// Largest palette or formula file read: far beyond any real one, small enough to hold in memory.
constexpr size_t kMaxTextFileBytes = size_t(16) << 20;

// Writes through a temporary file renamed over `path`; false on any failure (target untouched).
bool writeFileAtomically(const std::string& path, const void* data, size_t size);
// Same, for a file made of several consecutive parts.
struct FilePart {
    const void* data;
    size_t size;
};
bool writeFileAtomically(const std::string& path, std::initializer_list<FilePart> parts);
inline bool writeFileAtomically(const std::string& path, const std::string& text) {
    return writeFileAtomically(path, text.data(), text.size());
}

// Tests replace the raw write to simulate a full disk; nullptr restores fwrite.
using RawWrite = size_t (*)(const void* data, size_t size, std::FILE* file);
void setRawWriteForTesting(RawWrite write);

}  // namespace qel
