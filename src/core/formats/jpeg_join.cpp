// Joins JPEG bands coded on separate threads into one file with optimal Huffman tables. Coding
// bands apart lets every core run the colour conversion and DCT; counting the symbols the bands
// wrote and recoding them with tables made from the counts gives the optimised file without
// holding the whole picture's coefficients, as a second coding pass would.
#include "core/formats/jpeg_join.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include "core/image/parallel_rows.h"

namespace qel::codec {

namespace {

// Table slots: DC tables 0-3, then AC tables 0-3.
constexpr int kSlots = 8;
using Counts = std::array<std::array<int64_t, 257>, kSlots>;

struct HuffSpec {
    std::array<uint8_t, 16> lengths{};  // codes of each length 1..16
    std::vector<uint8_t> values;
};

// What a band's header says: where its scan data lies, how an MCU is made and the tables.
struct BandHeader {
    size_t headerEnd = 0;  // first byte of scan data
    size_t sofHeight = 0;  // offset of the frame's two height bytes
    int mcusPerRow = 0, mcuRows = 0;
    std::vector<std::pair<int, int>> mcu;  // (DC slot, AC slot) of each block of an MCU
    std::array<std::optional<HuffSpec>, kSlots> tables;
};

int be16(const uint8_t* p) { return p[0] << 8 | p[1]; }
int ceilDiv(int a, int b) { return (a + b - 1) / b; }

std::optional<BandHeader> readHeader(std::span<const uint8_t> f) {
    BandHeader h;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8 || f[f.size() - 2] != 0xFF || f[f.size() - 1] != 0xD9)
        return std::nullopt;
    struct Component { int id, hs, vs; };
    std::vector<Component> frame;
    int width = 0, height = 0, restart = 0;
    size_t p = 2;
    for (;;) {
        if (p + 4 > f.size() || f[p] != 0xFF) return std::nullopt;
        const int marker = f[p + 1];
        const size_t length = static_cast<size_t>(be16(&f[p + 2]));
        if (length < 2 || p + 2 + length > f.size()) return std::nullopt;
        const uint8_t* s = &f[p + 4];
        const size_t n = length - 2;
        if (marker == 0xC0) {  // baseline frame
            if (n < 6 || s[0] != 8) return std::nullopt;
            h.sofHeight = p + 5;
            height = be16(s + 1);
            width = be16(s + 3);
            const int count = s[5];
            if (n < size_t(6 + 3 * count)) return std::nullopt;
            for (int i = 0; i < count; ++i) frame.push_back({s[6 + 3 * i], s[7 + 3 * i] >> 4, s[7 + 3 * i] & 15});
        } else if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)) {
            return std::nullopt;  // not a baseline frame
        } else if (marker == 0xC4) {
            for (size_t q = 0; q < n;) {
                if (q + 17 > n) return std::nullopt;
                const int cls = s[q] >> 4, id = s[q] & 15;
                if (cls > 1 || id > 3) return std::nullopt;
                HuffSpec t;
                int total = 0;
                for (int i = 0; i < 16; ++i) total += t.lengths[i] = s[q + 1 + i];
                if (total > 256 || q + 17 + total > n) return std::nullopt;
                t.values.assign(s + q + 17, s + q + 17 + total);
                h.tables[cls * 4 + id] = std::move(t);
                q += 17 + size_t(total);
            }
        } else if (marker == 0xDD) {
            if (n < 2) return std::nullopt;
            restart = be16(s);
        } else if (marker == 0xDA) {
            if (frame.empty() || n < 1) return std::nullopt;
            const int count = s[0];
            if (count < 1 || n < size_t(4 + 2 * count)) return std::nullopt;
            int hmax = 1, vmax = 1;
            for (const auto& c : frame) hmax = std::max(hmax, c.hs), vmax = std::max(vmax, c.vs);
            for (int i = 0; i < count; ++i) {
                const auto c = std::find_if(frame.begin(), frame.end(), [&](const Component& c) { return c.id == s[1 + 2 * i]; });
                if (c == frame.end() || c->hs < 1 || c->vs < 1) return std::nullopt;
                const int dc = s[2 + 2 * i] >> 4, ac = 4 + (s[2 + 2 * i] & 15);
                if (dc > 3 || ac > 7 || !h.tables[dc] || !h.tables[ac]) return std::nullopt;
                const int blocks = count == 1 ? 1 : c->hs * c->vs;
                for (int b = 0; b < blocks; ++b) h.mcu.emplace_back(dc, ac);
                if (count == 1) {
                    h.mcusPerRow = ceilDiv(ceilDiv(width * c->hs, hmax), 8);
                    h.mcuRows = ceilDiv(ceilDiv(height * c->vs, vmax), 8);
                }
            }
            if (count > 1) {
                h.mcusPerRow = ceilDiv(width, 8 * hmax);
                h.mcuRows = ceilDiv(height, 8 * vmax);
            }
            h.headerEnd = p + 2 + length;
            // Bands are joined at MCU rows: the restart interval must be one row.
            if (h.mcusPerRow < 1 || h.mcuRows < 1 || restart != h.mcusPerRow || h.mcu.size() > 10) return std::nullopt;
            return h;
        }
        p += 2 + length;
    }
}

// Decoding: codes up to kFastBits long by a table of the next kFastBits bits
// (length << 8 | symbol, 0 for a longer code), longer ones by their canonical ranges.
constexpr int kFastBits = 10;
struct DecodeTable {
    std::array<uint16_t, 1 << kFastBits> fast{};
    std::array<int32_t, 17> maxCode{}, offset{};  // per length: last code (-1: none); value index minus first code
    std::vector<uint8_t> values;
};
struct EncodeTable {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> size{};
};

bool makeTables(const HuffSpec& t, DecodeTable* decode, EncodeTable* encode) {
    if (decode) decode->values = t.values;
    uint32_t code = 0;
    size_t k = 0;
    for (int len = 1; len <= 16; ++len, code <<= 1) {
        if (decode) decode->offset[len] = static_cast<int32_t>(k) - static_cast<int32_t>(code), decode->maxCode[len] = -1;
        for (int i = 0; i < t.lengths[len - 1]; ++i, ++code, ++k) {
            if (code >= (1u << len)) return false;
            const uint8_t sym = t.values[k];
            if (decode) {
                decode->maxCode[len] = static_cast<int32_t>(code);
                if (len <= kFastBits)
                    std::fill(decode->fast.begin() + (code << (kFastBits - len)),
                              decode->fast.begin() + ((code + 1) << (kFastBits - len)), static_cast<uint16_t>(len << 8 | sym));
            }
            if (encode) encode->code[sym] = static_cast<uint16_t>(code), encode->size[sym] = static_cast<uint8_t>(len);
        }
    }
    return true;
}

// Optimal code lengths from symbol counts, limited to 16 bits, with the all-ones code of the
// longest length left unused as JPEG requires (code 256 holds its place while building).
HuffSpec optimalTable(std::array<int64_t, 257> freq) {
    constexpr int kMaxLength = 32;
    std::array<int, 257> codesize{}, others;
    others.fill(-1);
    freq[256] = 1;
    for (;;) {
        // The two least frequent symbols; among equals the last.
        int c1 = -1, c2 = -1;
        int64_t v = std::numeric_limits<int64_t>::max();
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v) v = freq[i], c1 = i;
        v = std::numeric_limits<int64_t>::max();
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v && i != c1) v = freq[i], c2 = i;
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        for (++codesize[c1]; others[c1] >= 0; ++codesize[c1]) c1 = others[c1];
        others[c1] = c2;
        for (++codesize[c2]; others[c2] >= 0; ++codesize[c2]) c2 = others[c2];
    }
    std::array<int, kMaxLength + 1> bits{};
    for (int i = 0; i <= 256; ++i)
        if (codesize[i]) ++bits[std::min(codesize[i], kMaxLength)];
    // Lengths over 16: move pairs up the tree, each time lengthening a shorter code.
    for (int i = kMaxLength; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    }
    int longest = 16;
    while (bits[longest] == 0) --longest;
    --bits[longest];  // the reserved code
    HuffSpec t;
    for (int i = 1; i <= 16; ++i) t.lengths[i - 1] = static_cast<uint8_t>(bits[i]);
    for (int len = 1; len <= kMaxLength; ++len)
        for (int s = 0; s < 256; ++s)
            if (codesize[s] == len) t.values.push_back(static_cast<uint8_t>(s));
    return t;
}

// A band's symbols as read: symbol << 23 | slot << 20 | extra-bit count << 16 | extra bits, or
// kEnd | marker code at the end of each interval (0 for the band's end).
constexpr uint32_t kEnd = 0x80000000u;

// Reads scan data: bits after byte stuffing, stopping at a marker.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> d) : p_(d.data()), end_(d.data() + d.size()) {}
    // The next symbol by `t` and its extra bits (`ac`: as many as the symbol's low four bits
    // say, else as many as the symbol says) as a token without its slot; kEnd for bits that are
    // no code.
    inline uint32_t token(const DecodeTable& t, bool ac) {
        if (bits_ < 32) fill();  // a code and its extra bits take at most 31
        int len, sym;
        if (const unsigned e = t.fast[acc_ >> (64 - kFastBits)]) {
            len = static_cast<int>(e >> 8);
            sym = static_cast<int>(e & 0xFF);
        } else {
            for (len = kFastBits + 1;; ++len) {
                if (len > 16) return kEnd;
                const auto code = static_cast<int32_t>(acc_ >> (64 - len));
                if (code <= t.maxCode[len]) {
                    sym = t.values[static_cast<size_t>(t.offset[len] + code)];
                    break;
                }
            }
        }
        const int size = ac ? sym & 15 : sym;
        if (size > 15) return kEnd;
        const auto extra = size ? static_cast<uint32_t>((acc_ << len) >> (64 - size)) : 0u;
        skip(len + size);
        return uint32_t(sym) << 23 | uint32_t(size) << 16 | extra;
    }
    // Past the data (into the zeros fed after a marker or the end)?
    bool overrun() const { return real_ < 0; }
    // At an interval's end only padding is left: true when marker FF `code` (or, for 0, the end) follows.
    bool finish(int code) {
        if (real_ < 0 || real_ >= 8) return false;
        fill();
        acc_ = 0;
        bits_ = 0;
        real_ = 0;
        marker_ = false;
        if (code == 0) return p_ == end_;
        if (end_ - p_ < 2 || p_[0] != 0xFF || p_[1] != code) return false;
        p_ += 2;
        return true;
    }

private:
    void skip(int n) {
        acc_ <<= n;
        bits_ -= n;
        real_ -= n;
    }
    void fill() {
        // Whole bytes at once while none of the next eight is FF.
        if (!marker_ && end_ - p_ >= 8) {
            uint64_t w;
            std::memcpy(&w, p_, 8);
            if (!hasFF(w)) {
                w = __builtin_bswap64(w);
                const int n = (64 - bits_) >> 3;
                acc_ |= (n == 8 ? w : w >> (64 - 8 * n)) << (64 - bits_ - 8 * n);
                p_ += n;
                bits_ += 8 * n;
                real_ += 8 * n;
                return;
            }
        }
        while (bits_ <= 56) {
            uint8_t b = 0;
            if (!marker_ && p_ < end_) {
                if (*p_ != 0xFF) {
                    b = *p_++;
                    real_ += 8;
                } else if (end_ - p_ >= 2 && p_[1] == 0) {
                    b = 0xFF;
                    p_ += 2;
                    real_ += 8;
                } else {
                    marker_ = true;
                }
            }
            acc_ |= uint64_t(b) << (56 - bits_);
            bits_ += 8;
        }
    }
    static bool hasFF(uint64_t w) {
        const uint64_t x = ~w;
        return ((x - 0x0101010101010101ull) & w & 0x8080808080808080ull) != 0;
    }
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t acc_ = 0;  // bits_ bits, from the top
    int bits_ = 0;
    int64_t real_ = 0;  // bits of acc_ that came from the data
    bool marker_ = false;
};

// Writes scan data with byte stuffing into `out`, grown as needed.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out, size_t expected) : out_(out) { out_.resize(expected + 64); }
    ~BitWriter() { out_.resize(pos_); }
    void put(uint32_t value, int n) {  // n <= 31
        acc_ = (acc_ << n) | value;
        bits_ += n;
        if (bits_ < 32) return;
        bits_ -= 32;
        const auto four = static_cast<uint32_t>(acc_ >> bits_);
        if (out_.size() - pos_ < 16) out_.resize(out_.size() * 2);
        if (((~four - 0x01010101u) & four & 0x80808080u) == 0) {  // no FF byte
            const uint32_t be = __builtin_bswap32(four);
            std::memcpy(out_.data() + pos_, &be, 4);
            pos_ += 4;
        } else {
            for (int s = 24; s >= 0; s -= 8) byte(static_cast<uint8_t>(four >> s));
        }
    }
    // Ends an interval: the last byte filled with ones, then the marker (none for 0).
    void finish(int code) {
        put(0x7F, 7);
        if (out_.size() - pos_ < 16) out_.resize(out_.size() * 2);
        for (; bits_ >= 8; bits_ -= 8) byte(static_cast<uint8_t>(acc_ >> (bits_ - 8)));
        acc_ = 0;
        bits_ = 0;
        if (code) out_[pos_++] = 0xFF, out_[pos_++] = static_cast<uint8_t>(code);
    }

private:
    void byte(uint8_t b) {
        out_[pos_++] = b;
        if (b == 0xFF) out_[pos_++] = 0;
    }
    std::vector<uint8_t>& out_;
    size_t pos_ = 0;
    uint64_t acc_ = 0;  // bits_ bits, at the bottom
    int bits_ = 0;
};

// Reads one band's scan data into tokens and counts its symbols per slot. False when the data
// does not hold the blocks the header promises.
// Reads one band's scan data, calling emit(token) for each symbol and interval end. False when
// the data does not hold the blocks the header promises.
template <class Emit>
bool readBand(std::span<const uint8_t> data, const BandHeader& h, const std::array<DecodeTable, kSlots>& decode,
              Emit&& emit) {
    BitReader in(data);
    for (int row = 0; row < h.mcuRows; ++row) {
        for (int m = 0; m < h.mcusPerRow; ++m) {
            for (const auto& [dc, ac] : h.mcu) {
                uint32_t t = in.token(decode[dc], false);
                if (t == kEnd) return false;
                emit(t | uint32_t(dc) << 20);
                for (int k = 1; k < 64;) {
                    t = in.token(decode[ac], true);
                    if (t == kEnd) return false;
                    emit(t | uint32_t(ac) << 20);
                    const unsigned sym = t >> 23;
                    if (sym & 15) k += static_cast<int>(sym >> 4) + 1;
                    else if (sym == 0xF0) k += 16;
                    else break;
                    if (k > 64) return false;
                }
            }
            if (in.overrun()) return false;
        }
        const int code = row + 1 < h.mcuRows ? 0xD0 + (row & 7) : 0;
        if (!in.finish(code)) return false;
        emit(kEnd | uint32_t(code));
    }
    return true;
}

// Writes tokens with the new tables; `lastCode` is the marker after the band (0 for none).
class TokenWriter {
public:
    TokenWriter(const std::array<EncodeTable, kSlots>& encode, int lastCode, size_t expected, std::vector<uint8_t>& out)
        : encode_(encode), lastCode_(lastCode), w_(out, expected) {}
    void operator()(uint32_t t) {
        if (t & kEnd) {
            const int code = static_cast<int>(t & 0xFF);
            w_.finish(code ? code : lastCode_);
            return;
        }
        const unsigned sym = t >> 23, slot = (t >> 20) & 7, size = (t >> 16) & 15;
        const EncodeTable& e = encode_[slot];
        w_.put(uint32_t(e.code[sym]) << size | (t & 0xFFFF), e.size[sym] + static_cast<int>(size));
    }

private:
    const std::array<EncodeTable, kSlots>& encode_;
    int lastCode_;
    BitWriter w_;
};

}  // namespace

JoinOutcome joinJpegBands(const std::vector<std::span<const uint8_t>>& bands, int height,
                          const std::function<bool(const uint8_t*, size_t)>& write, const std::function<void(size_t)>& done) {
    const size_t n = bands.size();
    if (n == 0 || height < 1 || height > 0xFFFF) return JoinOutcome::NotBands;
    std::vector<BandHeader> headers;
    for (size_t b = 0; b < n; ++b) {
        auto h = readHeader(bands[b]);
        // All but the last kJpegBandMcuRows MCU rows high; every header as the first but for the height.
        if (!h || (b + 1 < n && h->mcuRows != kJpegBandMcuRows)) return JoinOutcome::NotBands;
        if (b) {
            const auto& first = headers[0];
            const auto one = bands[b].first(h->headerEnd), zero = bands[0].first(first.headerEnd);
            if (h->headerEnd != first.headerEnd || h->sofHeight != first.sofHeight ||
                !std::equal(one.begin(), one.begin() + h->sofHeight, zero.begin()) ||
                !std::equal(one.begin() + h->sofHeight + 2, one.end(), zero.begin() + h->sofHeight + 2))
                return JoinOutcome::NotBands;
        }
        headers.push_back(std::move(*h));
    }
    const BandHeader& first = headers[0];
    std::array<DecodeTable, kSlots> decode;
    std::array<bool, kSlots> used{};
    for (const auto& [dc, ac] : first.mcu) used[dc] = used[ac] = true;
    for (int s = 0; s < kSlots; ++s)
        if (used[s] && !makeTables(*first.tables[s], &decode[s], nullptr)) return JoinOutcome::NotBands;
    auto data = [&](size_t b) { return bands[b].subspan(headers[b].headerEnd, bands[b].size() - 2 - headers[b].headerEnd); };
    int64_t bytes = 0;
    for (size_t b = 0; b < n; ++b) bytes += static_cast<int64_t>(bands[b].size());
    const int64_t workPerBand = bytes * 16 / static_cast<int64_t>(n);

    // Read every band's symbols and count them, then make the tables and write the bands with them.
    std::vector<std::unique_ptr<Counts>> counts(n);
    std::atomic<bool> ok{true};
    forEachRowBand(static_cast<int64_t>(n), workPerBand, [&](int64_t firstBand, int64_t lastBand) {
        for (auto b = static_cast<size_t>(firstBand); b < static_cast<size_t>(lastBand); ++b) {
            counts[b] = std::make_unique<Counts>();
            Counts& c = *counts[b];
            if (!readBand(data(b), headers[b], decode, [&c](uint32_t t) { if (!(t & kEnd)) ++c[(t >> 20) & 7][t >> 23]; }))
                ok = false;
        }
    });
    if (!ok) return JoinOutcome::NotBands;
    std::array<std::optional<HuffSpec>, kSlots> tables;
    std::array<EncodeTable, kSlots> encode;
    for (int s = 0; s < kSlots; ++s) {
        if (!used[s]) continue;
        std::array<int64_t, 257> total{};
        for (const auto& c : counts)
            for (int i = 0; i < 256; ++i) total[i] += (*c)[s][i];
        tables[s] = optimalTable(total);
        if (!makeTables(*tables[s], nullptr, &encode[s])) return JoinOutcome::NotBands;
    }
    counts.clear();

    // The first band's header with the whole height and the new tables.
    std::vector<uint8_t> file;
    const auto head = bands[0].first(first.headerEnd);
    file.insert(file.end(), head.begin(), head.begin() + 2);
    for (size_t p = 2; p < first.headerEnd;) {
        const size_t length = static_cast<size_t>(be16(&head[p + 2]));
        if (head[p + 1] != 0xC4) {
            file.insert(file.end(), head.begin() + p, head.begin() + p + 2 + length);
        } else {
            std::vector<uint8_t> body;
            for (size_t q = p + 4; q < p + 2 + length;) {
                const int slot = (head[q] >> 4) * 4 + (head[q] & 15);
                int total = 0;
                for (int i = 0; i < 16; ++i) total += head[q + 1 + i];
                if (tables[slot]) {
                    body.push_back(head[q]);
                    body.insert(body.end(), tables[slot]->lengths.begin(), tables[slot]->lengths.end());
                    body.insert(body.end(), tables[slot]->values.begin(), tables[slot]->values.end());
                } else {
                    body.insert(body.end(), head.begin() + q, head.begin() + q + 17 + total);
                }
                q += 17 + size_t(total);
            }
            file.insert(file.end(), {uint8_t(0xFF), uint8_t(0xC4), uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)});
            file.insert(file.end(), body.begin(), body.end());
        }
        if (p == first.sofHeight - 5) {
            file[file.size() - length - 2 + 5] = static_cast<uint8_t>(height >> 8);
            file[file.size() - length - 2 + 6] = static_cast<uint8_t>(height);
        }
        p += 2 + length;
    }
    if (!write(file.data(), file.size())) return JoinOutcome::NotWritten;

    // All bands but the last end with the restart marker that follows them. Bands are taken in
    // order and each is written once it and those before it are recoded.
    std::vector<std::vector<uint8_t>> coded(n);
    std::vector<char> ready(n);
    std::mutex order;
    size_t next = 0;
    std::atomic<bool> written{true};
    forEachRowBand(static_cast<int64_t>(n), workPerBand, [&](int64_t firstBand, int64_t lastBand) {
        for (auto b = static_cast<size_t>(firstBand); b < static_cast<size_t>(lastBand) && written; ++b) {
            {
                // The recoded band has its final size once its writer is gone.
                TokenWriter recode(encode, b + 1 == n ? 0 : 0xD0 + (kJpegBandMcuRows - 1), data(b).size(), coded[b]);
                readBand(data(b), headers[b], decode, recode);
            }
            if (done) done(b);
            const std::lock_guard lock(order);
            ready[b] = 1;
            for (; next < n && ready[next] && written; ++next) {
                if (!write(coded[next].data(), coded[next].size())) written = false;
                std::vector<uint8_t>().swap(coded[next]);
            }
        }
    }, 1);
    const uint8_t end[2] = {0xFF, 0xD9};
    return written && write(end, 2) ? JoinOutcome::Joined : JoinOutcome::NotWritten;
}

std::optional<std::vector<uint8_t>> joinJpegBands(const std::vector<std::span<const uint8_t>>& bands, int height) {
    std::vector<uint8_t> file;
    const auto outcome = joinJpegBands(bands, height, [&file](const uint8_t* data, size_t size) {
        file.insert(file.end(), data, data + size);
        return true;
    });
    if (outcome != JoinOutcome::Joined) return std::nullopt;
    return file;
}

}  // namespace qel::codec
