// Whole-file reads and atomic writes shared by every file format of the core
// (pictures, palette files, formula files). A write goes to a temporary file
// beside the target and is renamed over it only when every byte is on disk, so
// a failure leaves the old file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "core/image/pixel_bytes.h"

namespace qel {

// Reads the whole file; false when it cannot be opened or read, or holds more than maxBytes.
template <class Bytes>
bool readFileBytes(const std::string& path, Bytes& out, size_t maxBytes = SIZE_MAX);
// Up to `size` first bytes of the file into `head`; how many were read (0 when it cannot be opened).
size_t readFileHead(const std::string& path, uint8_t* head, size_t size);
// Why a file cannot be read or written, as the system's error number (ENOENT, EACCES, EISDIR...),
// found after the fact; 0 when nothing about the file itself stops it (its content is at fault).
int readErrno(const std::string& path);
int writeErrno(const std::string& path);
// "path: No such file or directory" for a code, "path: <otherwise>" for 0.
std::string fileReason(const std::string& path, int code, const std::string& otherwise);
// Largest palette or formula file read: far beyond any real one, small enough to hold in memory.
constexpr size_t kMaxTextFileBytes = size_t(16) << 20;

// Writes through a temporary file renamed over `path`; false on any failure (target untouched).
bool writeFileAtomically(const std::string& path, const void* data, size_t size);
// Same, for a file made of several consecutive parts.
struct FilePart {
    const void* data;
    size_t size;
};
bool writeFileAtomically(const std::string& path, std::span<const FilePart> parts);
inline bool writeFileAtomically(const std::string& path, std::initializer_list<FilePart> parts) {
    return writeFileAtomically(path, std::span<const FilePart>(parts.begin(), parts.size()));
}
inline bool writeFileAtomically(const std::string& path, const std::string& text) {
    return writeFileAtomically(path, text.data(), text.size());
}

// A file written piece by piece through a temporary beside `path` (made at the first write), renamed
// over it by commit(). A file not committed is removed, leaving the target untouched.
class AtomicFile {
public:
    explicit AtomicFile(std::string path) : path_(std::move(path)) {}
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // False once anything failed; later writes do nothing.
    bool write(const void* data, size_t size);
    bool commit();

private:
    std::string path_, temp_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

// A file's bytes mapped read-only for a reader to go through, so a large input is not copied and
// the pages a reader has passed can be given back (`passed`): the input then does not sit in
// memory beside the picture made from it. Empty when the file cannot be mapped (see ok()).
class MappedFile {
public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool ok() const { return data_ != nullptr; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // The reader needs no byte before `offset` any more (it may still read them: they come back
    // from the file). Not for use by several threads at once.
    void passed(size_t offset) const;

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    mutable size_t released_ = 0;
};

// Tests replace the raw write to simulate a full disk; nullptr restores fwrite.
using RawWrite = size_t (*)(const void* data, size_t size, std::FILE* file);
void setRawWriteForTesting(RawWrite write);

}  // namespace qel
