// The installed library's picture: files in and out at each depth, operations as qel-batch runs
// them, refusals that leave the picture as it was.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include <qel/qel.h>

#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel {
namespace {

// The picture's pixel bytes, row by row from the top, without the row padding.
std::vector<uint8_t> pixelBytes(const Picture& p) {
    std::vector<uint8_t> bytes;
    const size_t used = (size_t(p.width()) * p.depth() + 7) / 8;
    for (int y = 0; y < p.height(); ++y) bytes.insert(bytes.end(), p.row(y), p.row(y) + used);
    return bytes;
}

// A 6 x 5 24-bit picture: white with a black bar three pixels thick and one red pixel.
Picture bar() {
    Picture p = Picture::create(6, 5, 24);
    for (int y = 1; y <= 3; ++y) std::fill(p.row(y), p.row(y) + 15, uint8_t(0));
    p.row(0)[2] = 255, p.row(0)[1] = 0, p.row(0)[0] = 0;
    return p;
}

TEST(LibraryPicture, RoundTripsEachDepthThroughFiles) {
    struct Case {
        int depth;
        std::vector<Colour> palette;
        std::vector<uint8_t> rows;  // 3 x 2 pixels, top row first, one byte per row for 1 and 4 bits
    };
    const std::vector<Case> cases = {
        {1, {{10, 20, 30}, {200, 100, 0}}, {0b10100000, 0b01000000}},
        {4, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {250, 0, 0}}, {0x30, 0x20, 0x01, 0x00}},
        {8, {{9, 9, 0}, {0, 9, 9}, {9, 0, 9}}, {2, 1, 0, 0, 1, 2}},
        {24, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        for (const char* ext : {".bmp", ".png"}) {
            Picture made = Picture::create(3, 2, c.depth, c.palette);
            const size_t used = c.rows.size() / 2;
            for (int y = 0; y < 2; ++y) std::copy_n(c.rows.begin() + y * used, used, made.row(y));
            const std::string path = dir.file("p" + std::to_string(c.depth) + ext);
            made.save(path);
            const Picture read = Picture::open(path);
            SCOPED_TRACE(path);
            EXPECT_EQ(read.width(), 3);
            EXPECT_EQ(read.height(), 2);
            EXPECT_EQ(read.depth(), c.depth);
            EXPECT_EQ(pixelBytes(read), c.rows);
            const auto palette = read.palette();
            ASSERT_GE(palette.size(), c.palette.size());
            EXPECT_EQ(std::vector<Colour>(palette.begin(), palette.begin() + c.palette.size()), c.palette);
            const auto bytes = test::readBytes(path);
            EXPECT_EQ(pixelBytes(Picture::fromMemory(bytes.data(), bytes.size())), c.rows);
            // A copy: the same pixels, table, format and flag, its rows its own.
            made.setThinned(true);
            Picture copy = read.copy(), flagged = made.copy();
            EXPECT_EQ(std::tuple(pixelBytes(copy), copy.palette(), copy.fileFormat(), flagged.thinned()),
                      std::tuple(c.rows, palette, read.fileFormat(), true));
            copy.row(1)[0] ^= 0xFF;
            EXPECT_EQ(pixelBytes(read), c.rows);
        }
    }
    EXPECT_THROW(Picture::open(dir.file("missing.bmp")), Error);
    EXPECT_THROW(bar().save(dir.file("p.unknown")), Error);
}

TEST(LibraryPicture, OperationsGiveQelBatchBytes) {
    struct Case {
        std::vector<std::string> options;
        std::function<OpResult(Picture&)> run;  // the result of the last operation
    };
    const std::vector<Case> cases = {
        {{"--reduce-256", "--to-256"}, [](Picture& p) { return p.reduce256(), p.to256(); }},
        {{"--to-256", "--thin", "--tidy"}, [](Picture& p) { return p.to256(), p.thin(), p.tidy(); }},
        {{"--transform=y;x;x*40;1,0,0"},
         [](Picture& p) { return p.transform({.x = "y", .y = "x", .z = "x*40", .weights = {1, 0, 0}}); }},
        {{"--scale=4x3;nearest"}, [](Picture& p) { return p.scale(4, 3, true); }},
        // Each picture draws rand from its own sequence, whatever ran before.
        {{"--transform=x;y;rand(255)"}, [](Picture& p) { return p.transform({.z = "rand(255)"}); }},
        {{"--transform=x;y;rand(255)"}, [](Picture& p) { return p.transform({.z = "rand(255)"}); }},
    };
    test::TempDir dir;
    bar().save(dir.file("in.bmp"));
    for (const Case& c : cases) {
        std::vector<std::string> args = {dir.file("in.bmp")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"-o", dir.file("batch.bmp")});
        ASSERT_EQ(test::runCli(args).status, 0) << c.options[0];
        Picture p = bar();
        EXPECT_FALSE(c.run(p).isRefused()) << c.options[0];
        p.save(dir.file("lib.bmp"));
        EXPECT_EQ(test::readBytes(dir.file("lib.bmp")), test::readBytes(dir.file("batch.bmp"))) << c.options[0];
    }
}

TEST(LibraryPicture, RefusesWithTheReasonAndChangesNothing) {
    const auto none = [](Picture&) {};
    struct Case {
        std::function<void(Picture&)> prepare;
        std::function<OpResult(Picture&)> run;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {none, [](Picture& p) { return p.thin(); }, "thin needs a 8-bit picture; this picture is 24-bit"},
        {none, [](Picture& p) { return p.to24bit(); }, "to-24bit needs a 1 or 4 or 8-bit picture; this picture is 24-bit"},
        {[](Picture& p) { p.to256(); }, [](Picture& p) { return p.blackWhite(256); }, "black-white needs a threshold from 0 to 255: 256"},
        {[](Picture& p) { p.to256(); }, [](Picture& p) { return p.tidy(); }, "tidy needs a thinned picture: run thin or tidy2 first"},
        {none, [](Picture& p) { return p.scale(0, 3); }, "scale needs each side from 1 to 30000: 0"},
        {none, [](Picture& p) { return p.transform({.x = "x+"}); }, "transform: formula x'=x+ is invalid"},
        {[](Picture& p) { p = Picture(); }, [](Picture& p) { return p.grey(); }, "grey: there is no picture"},
        {[](Picture& p) { Picture taken(std::move(p)); }, [](Picture& p) { return p.grey(); }, "grey: there is no picture"},
    };
    for (const Case& c : cases) {
        Picture p = bar();
        c.prepare(p);
        const auto before = pixelBytes(p);
        const OpResult r = c.run(p);
        EXPECT_TRUE(r.isRefused()) << c.reason;
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(pixelBytes(p), before) << c.reason;
    }
    EXPECT_EQ(calc("sin(30)+2^3"), "8.500000");
    EXPECT_THROW(calc("1+"), std::invalid_argument);
}

// Rows lent out stay as they were after the picture is changed, moved or gone; a moved-from picture
// holds nothing (the sanitizer build sees any use of freed rows).
TEST(LibraryPicture, LentRowsOutliveThePicture) {
    std::vector<std::pair<std::shared_ptr<const void>, const uint8_t*>> lent;
    {
        Picture p = bar();
        lent.emplace_back(p.lendRows(), p.row(0));
        Picture moved(std::move(p));
        EXPECT_TRUE(p.empty() && p.width() == 0 && p.rowBytes() == 0 && p.palette().empty());
        EXPECT_THROW(p.save("never.bmp"), Error);
        EXPECT_THROW(p.row(0), std::out_of_range);
        Picture changed = bar();
        lent.emplace_back(changed.lendRows(), changed.row(0));
        (void)changed.lendRows();  // a second handle let go at once: the first still holds the rows
        changed.grey();
    }
    for (const auto& [holder, row] : lent) EXPECT_EQ(std::vector<uint8_t>(row, row + 6), std::vector<uint8_t>({0, 0, 255, 255, 255, 255}));
}

// Each listed operation has a function of its own (a new one must get it), and running it by name
// with the same value gives the same result.
TEST(LibraryPicture, EveryListedOperationHasItsFunction) {
    std::ostringstream out;
    const std::map<std::string, std::function<OpResult(Picture&, int, const std::string&)>> typed = {
        {"info", [&](Picture& p, int, auto&) { return p.info(out); }},
        {"to-24bit", [](Picture& p, int, auto&) { return p.to24bit(); }},
        {"to-256", [](Picture& p, int, auto&) { return p.to256(); }},
        {"to-16", [](Picture& p, int, auto&) { return p.to16(); }},
        {"grey", [](Picture& p, int, auto&) { return p.grey(); }},
        {"black-white", [](Picture& p, int n, auto&) { return p.blackWhite(n); }},
        {"count-colours", [&](Picture& p, int, auto&) { return p.countColours(out); }},
        {"reduce-256", [](Picture& p, int, auto&) { return p.reduce256(); }},
        {"quantize", [](Picture& p, int n, auto&) { return p.quantize(n); }},
        {"palette", [](Picture& p, int, auto& t) { return p.loadPalette(t); }},
        {"save-palette", [](Picture& p, int, auto& t) { return p.savePalette(t); }},
        {"set-palette", [](Picture& p, int, auto&) { return p.setPalette(); }},
        {"organise", [](Picture& p, int, auto&) { return p.organise(); }},
        {"approximate", [](Picture& p, int n, auto&) { return p.approximate(n); }},
        {"remap", [](Picture& p, int, auto&) { return p.remap(); }},
        {"fit-palette", [](Picture& p, int, auto&) { return p.fitPalette(); }},
        {"sort-palette", [](Picture& p, int, auto&) { return p.sortPalette(); }},
        {"merge-near", [](Picture& p, int n, auto&) { return p.mergeNear(n); }},
        {"thin", [](Picture& p, int, auto&) { return p.thin(); }},
        {"straighten", [](Picture& p, int n, auto&) { return p.straighten(n); }},
        {"tidy", [](Picture& p, int, auto&) { return p.tidy(); }},
        {"tidy2", [](Picture& p, int, auto&) { return p.tidy2(); }},
        {"black-white-auto", [](Picture& p, int, auto&) { return p.blackWhiteAuto(); }},
        {"adaptive-bw", [](Picture& p, int, auto&) { return p.adaptiveBw(15, 0.3); }},
        {"despeckle", [](Picture& p, int n, auto&) { return p.despeckle(n); }},
        {"transform", [](Picture& p, int, auto&) { return p.transform({.x = "x+1"}); }},
        {"scale", [](Picture& p, int, auto&) { return p.scale(3, 2); }},
        {"mix", [](Picture& p, int, auto& t) { return p.mix({.file = t}); }},
        {"fractal", [](Picture& p, int, auto&) { return p.fractal(); }},
        {"rotate-90", [](Picture& p, int, auto&) { return p.rotate90(); }},
        {"rotate-180", [](Picture& p, int, auto&) { return p.rotate180(); }},
        {"rotate-270", [](Picture& p, int, auto&) { return p.rotate270(); }},
        {"flip-horizontal", [](Picture& p, int, auto&) { return p.flipHorizontal(); }},
        {"flip-vertical", [](Picture& p, int, auto&) { return p.flipVertical(); }},
        {"crop", [](Picture& p, int, auto&) { return p.crop(1, 0, 2, 2); }},
        {"deskew", [](Picture& p, int, auto&) { return p.deskew(); }},
    };
    test::TempDir dir;
    const std::string file = dir.file("missing.pal");
    for (const OperationInfo& op : listOperations()) {
        if (!op.needsPicture) continue;  // calc: qel::calc
        SCOPED_TRACE(op.name);
        ASSERT_TRUE(typed.count(op.name));
        Picture byFunction = bar();
        const OpResult a = typed.at(op.name)(byFunction, op.max, file);
        if (op.value == OperationInfo::Value::Record) continue;
        Picture byName = bar();
        const OperationValue value = op.value == OperationInfo::Value::Int ? OperationValue(op.max)
                                     : op.value == OperationInfo::Value::Text ? OperationValue(file) : OperationValue();
        const OpResult b = byName.run(op.name, value, &out);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.reason, b.reason);
        EXPECT_EQ(pixelBytes(byFunction), pixelBytes(byName));
    }
}

}  // namespace
}  // namespace qel
