#include "support/text_image.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <filesystem>
#include <random>

#include "core/formats/file_io.h"

namespace qel::test {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}
char hexDigit(int v) { return "0123456789abcdef"[v & 15]; }
}  // namespace

std::unique_ptr<DibImage> makeIndexed(int bitCount, const Rows& rows, const std::vector<Rgb>& table,
                                      const std::map<char, int>& indices, bool clrUsed) {
    auto img = std::make_unique<DibImage>();
    const int h = static_cast<int>(rows.size());
    const int w = h ? static_cast<int>(rows[0].size()) : 0;
    const int full = 1 << bitCount;
    const int entries = clrUsed ? static_cast<int>(table.size()) : full;
    const auto stride = strideFor(w, bitCount);
    auto hdr = newHeader(w, h, static_cast<uint16_t>(bitCount), clrUsed ? static_cast<uint32_t>(table.size()) : 0,
                         static_cast<uint32_t>(stride * h));
    auto info = makeInfoBlock(hdr, entries, Rgb{0, 0, 0});
    PixelBytes bits(static_cast<size_t>(stride * h));
    img->replace(std::move(info), std::move(bits));
    for (int i = 0; i < static_cast<int>(table.size()) && i < entries; ++i) img->setTableColour(i, table[i]);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img->rowFromTop(y);
        for (int x = 0; x < w; ++x) {
            char c = rows[y][x];
            auto it = indices.find(c);
            int v = it != indices.end() ? it->second : hexValue(c);
            if (bitCount == 8) row[x] = static_cast<uint8_t>(v);
            else if (bitCount == 4) row[x / 2] |= static_cast<uint8_t>((x & 1) ? (v & 15) : (v & 15) << 4);
            else if (bitCount == 1) row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - (x & 7)));
        }
    }
    img->width = w;
    img->height = h;
    img->rebuildPalette();
    img->rebuildDisplay();
    return img;
}

std::unique_ptr<DibImage> makeLineArt(const Rows& rows, const std::map<char, int>& indices) {
    std::map<char, int> all = indices;
    all.emplace('#', kDeviceBlack);
    all.emplace('.', kDeviceWhite);
    const auto& dev = deviceTable();
    return makeIndexed(8, rows, std::vector<Rgb>(dev.begin(), dev.end()), all, true);
}

std::unique_ptr<DibImage> make24(const Rows& rows, const std::map<char, Rgb>& colours) {
    auto img = std::make_unique<DibImage>();
    const int h = static_cast<int>(rows.size());
    const int w = h ? static_cast<int>(rows[0].size()) : 0;
    const auto stride = strideFor(w, 24);
    auto hdr = newHeader(w, h, 24, 0, static_cast<uint32_t>(stride * h));
    PixelBytes bits(static_cast<size_t>(stride * h));
    img->replace(makeInfoBlock(hdr, 0), std::move(bits));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img->rowFromTop(y);
        for (int x = 0; x < w; ++x) {
            char ch = rows[y][x];
            Rgb c{0, 0, 0};
            auto it = colours.find(ch);
            if (it != colours.end()) c = it->second;
            else if (ch == '.') c = Rgb{255, 255, 255};
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
    img->width = w;
    img->height = h;
    img->rebuildDisplay();
    return img;
}

Rows indexRows(const DibImage& img, const std::map<int, char>& names) {
    auto hdr = img.header();
    Rows out;
    for (int y = 0; y < hdr.biHeight; ++y) {
        std::string s;
        for (int x = 0; x < hdr.biWidth; ++x) {
            int v = img.indexAt(x, y);
            auto it = names.find(v);
            s += it != names.end() ? it->second : (v < 16 ? hexDigit(v) : '?');
        }
        out.push_back(s);
    }
    return out;
}

Rows lineArtRows(const DibImage& img, const std::map<int, char>& names) {
    std::map<int, char> all = names;
    all.emplace(kDeviceBlack, '#');
    all.emplace(kDeviceWhite, '.');
    return indexRows(img, all);
}

Rows colourRows(const DibImage& img, const std::map<char, Rgb>& colours) {
    auto hdr = img.header();
    Rows out;
    for (int y = 0; y < hdr.biHeight; ++y) {
        std::string s;
        for (int x = 0; x < hdr.biWidth; ++x) {
            Rgb c = img.colourAt(x, y);
            char name = '?';
            for (const auto& [ch, col] : colours)
                if (col == c) name = ch;
            if (name == '?' && c == Rgb{0, 0, 0} && !colours.count('#')) name = '#';
            if (name == '?' && c == Rgb{255, 255, 255} && !colours.count('.')) name = '.';
            s += name;
        }
        out.push_back(s);
    }
    return out;
}

std::vector<uint8_t> bmpFile(const BitmapInfoHeader& h, const std::vector<uint8_t>& table,
                             const std::vector<uint8_t>& pixels) {
    const size_t off = 14 + kHeaderSize + table.size();
    std::vector<uint8_t> out(off + pixels.size(), 0);
    const auto size = static_cast<uint32_t>(out.size());
    out[0] = 'B';
    out[1] = 'M';
    for (int i = 0; i < 4; ++i) out[2 + i] = uint8_t(size >> (8 * i));
    for (int i = 0; i < 4; ++i) out[10 + i] = uint8_t(off >> (8 * i));
    std::memcpy(out.data() + 14, &h, kHeaderSize);
    std::copy(table.begin(), table.end(), out.begin() + 14 + kHeaderSize);
    std::copy(pixels.begin(), pixels.end(), out.begin() + static_cast<std::ptrdiff_t>(off));
    return out;
}

TempDir::TempDir() {
    std::mt19937_64 gen{std::random_device{}()};
    path = (std::filesystem::temp_directory_path() / ("qel-test-" + std::to_string(gen()))).string();
    std::filesystem::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

long peakKbOfRefusedLoad(const std::vector<uint8_t>& file, int* status) {
    long resident = 0;
    std::ifstream("/proc/self/statm") >> resident >> resident;
    const pid_t child = fork();
    if (child == 0) _exit(DibImage().loadBytes(file.data(), file.size()) ? 1 : 0);
    rusage use{};
    wait4(child, status, 0, &use);
    return use.ru_maxrss - resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::vector<uint8_t> out;
    readFileBytes(path, out);
    return out;
}

}  // namespace qel::test
