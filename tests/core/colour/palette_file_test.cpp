// Palette files: the exact text written, reading as far as the file matches,
// N never growing, add from the selected entry, and the error messages.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/colour/palette_file.h"
#include "core/formats/file_io.h"
#include "support/text_image.h"

namespace qel {
namespace {

using test::TempDir;

WorkingPalette ramp(int n) {
    WorkingPalette pal;
    pal.count = n;
    for (int i = 0; i < 256; ++i) pal.setEntry(i, PaletteColour{i, 255 - i, (3 * i) % 256});
    return pal;
}

std::string colourLine(int first) {
    std::string s;
    for (int i = first; i < first + 4; ++i)
        s += '{' + std::to_string(i) + "," + std::to_string(255 - i) + "," + std::to_string((3 * i) % 256) + "},";
    return s + "\n";
}

// The text of ramp(): count, then `lines` colour lines.
std::string rampText(const std::string& count, int lines, const std::string& eol = "\n") {
    std::string s = count + eol;
    for (int k = 0; k < lines; ++k) {
        std::string line = colourLine(4 * k);
        line.pop_back();
        s += line + eol;
    }
    return s;
}

bool writeText(const std::string& path, const std::string& text) { return writeFileAtomically(path, text); }

TEST(PaletteFileFormat, SixteenColoursStillWriteSixtyFourLines) {
    WorkingPalette pal = ramp(16);
    pal.setEntry(0, {0, 0, 0});
    pal.setEntry(1, {255, 255, 255});
    pal.setEntry(2, {255, 0, 0});
    pal.setEntry(3, {0, 255, 0});
    const std::string text = formatPaletteText(pal);
    EXPECT_EQ(text.substr(0, text.find('\n', 3) + 1), "16\n{0,0,0},{255,255,255},{255,0,0},{0,255,0},\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 65);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find('\n' + colourLine(252)), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - colourLine(252).size()), colourLine(252));
}

TEST(PaletteFileFormat, WritesValuesAsHeldWithoutLocaleMarks) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "");  // whatever the environment offers; integers must stay plain
    WorkingPalette pal = ramp(1234567);
    pal.setEntry(0, {-5, 1000, 70000});
    const std::string text = formatPaletteText(pal);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text.substr(0, text.find('\n', 8) + 1).substr(0, 26), "1234567\n{-5,1000,70000},{1");
}

TEST(PaletteFileFormat, ReadsWhatItWritesAndToleratesWhiteSpace) {
    struct Case {
        const char* name;
        std::string text;
        bool haveCount;
        int count;
        int valuesRead;
    };
    const Case cases[] = {
        {"as written", formatPaletteText(ramp(16)), true, 16, 768},
        {"carriage returns", rampText("16", 64, "\r\n"), true, 16, 768},
        {"no final line end", rampText("16", 64).substr(0, rampText("16", 64).size() - 1), true, 16, 768},
        {"spaces before numbers and signs", " +16\n{ 0, +255,\t0},", true, 16, 3},
        {"space before a comma stops", "16\n{0 ,255,0},", true, 16, 1},
        {"truncated line", "8\n{0,255,0},{1,25", true, 8, 5},
        {"only the count", "8", true, 8, 0},
        {"empty file", "", false, 0, 0},
        {"no count", "{0,255,0},", false, 0, 0},
        {"count beyond 32 bits", "99999999999\n{0,255,0},", false, 0, 0},
        {"missing comma after a group", "16\n{0,255,0}{1,254,3},", true, 16, 3},
        {"lines may run together", "4 {1,2,3},{4,5,6},{7,8,9},{10,11,12},{13,14,15},", true, 4, 15},
    };
    for (const auto& c : cases) {
        const auto r = parsePaletteText(c.text);
        EXPECT_EQ(r.haveCount, c.haveCount) << c.name;
        if (c.haveCount) {
            EXPECT_EQ(r.count, c.count) << c.name;
        }
        EXPECT_EQ(r.valuesRead, c.valuesRead) << c.name;
    }
    const auto r = parsePaletteText(formatPaletteText(ramp(16)));
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(r.values[3 * i], i);
        EXPECT_EQ(r.values[3 * i + 2], (3 * i) % 256);
    }
}

TEST(PaletteFileLoad, CountNeverRaisesN) {
    struct Case {
        const char* name;
        std::string text;
        int nBefore;
        int nAfter;
    };
    const Case cases[] = {
        {"256 into 16 colours", rampText("256", 64), 16, 16},
        {"8 into 256 colours", rampText("8", 64), 256, 8},
        {"0 empties the palette", rampText("0", 64), 256, 0},
        {"negative count stops at 0", rampText("-3", 64), 256, 0},
        {"unreadable count keeps N", "x\n" + rampText("8", 64), 100, 100},
    };
    TempDir dir;
    for (const auto& c : cases) {
        ASSERT_TRUE(writeText(dir.file("p.pl"), c.text));
        WorkingPalette pal;
        pal.count = c.nBefore;
        EXPECT_EQ(loadPaletteFile(dir.file("p.pl"), pal), PaletteFileError::None) << c.name;
        EXPECT_EQ(pal.count, c.nAfter) << c.name;
    }
}

TEST(PaletteFileLoad, ReadsAllColoursEvenBeyondN) {
    TempDir dir;
    ASSERT_TRUE(writeText(dir.file("p.pl"), rampText("256", 64)));
    WorkingPalette pal;
    pal.count = 16;
    loadPaletteFile(dir.file("p.pl"), pal);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(pal.entry(i), ramp(0).entry(i)) << i;
}

TEST(PaletteFileLoad, EntriesNotReachedKeepTheirValues) {
    TempDir dir;
    ASSERT_TRUE(writeText(dir.file("p.pl"), "256\n{1,2,3},{4,5,6},{7,8,9},{10,11,12},\n{13,14"));
    WorkingPalette pal = ramp(256);
    loadPaletteFile(dir.file("p.pl"), pal);
    EXPECT_EQ(pal.entry(3), (PaletteColour{10, 11, 12}));
    EXPECT_EQ(pal.entry(4), (PaletteColour{13, 14, ramp(0).entry(4).blue}));
    EXPECT_EQ(pal.entry(5), ramp(0).entry(5));
    EXPECT_EQ(pal.count, 256);
}

TEST(PaletteFileLoad, UndoRestoresThePaletteBeforeTheLoad) {
    TempDir dir;
    WorkingPalette other = ramp(256);
    for (int i = 0; i < 256; ++i) other.setEntry(i, {1, 2, 3});
    other.count = 8;
    ASSERT_EQ(savePaletteFile(dir.file("p.pl"), other), PaletteFileError::None);
    WorkingPalette pal = ramp(16);
    loadPaletteFile(dir.file("p.pl"), pal);
    EXPECT_EQ(pal.count, 8);
    EXPECT_EQ(pal.entry(0), (PaletteColour{1, 2, 3}));
    undoHistory(pal);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pal.entry(i), ramp(16).entry(i));
}

TEST(PaletteFileSave, RoundTripsEveryEntryAndLeavesThePaletteAlone) {
    TempDir dir;
    WorkingPalette pal = ramp(100);
    ASSERT_EQ(savePaletteFile(dir.file("p.pal"), pal), PaletteFileError::None);
    EXPECT_EQ(pal.historyPos, 0);
    const auto bytes = test::readBytes(dir.file("p.pal"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), formatPaletteText(pal));
    WorkingPalette back;
    back.count = 256;
    loadPaletteFile(dir.file("p.pal"), back);
    EXPECT_EQ(back.count, 100);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(back.entry(i), pal.entry(i));
}

TEST(PaletteFileAdd, PastesFromSelectedEntryUpToN) {
    TempDir dir;
    WorkingPalette file;
    for (int i = 0; i < 256; ++i) file.setEntry(i, {i, i, 0});
    file.count = 3;  // the count is not used by Add
    ASSERT_EQ(savePaletteFile(dir.file("p.pl"), file), PaletteFileError::None);
    WorkingPalette pal = ramp(256);
    pal.selected = 250;
    ASSERT_EQ(addPaletteFile(dir.file("p.pl"), pal), PaletteFileError::None);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(pal.entry(i), (i < 250 ? ramp(0).entry(i) : PaletteColour{i - 250, i - 250, 0})) << i;
    EXPECT_EQ(pal.count, 256);
    undoHistory(pal);
    EXPECT_EQ(pal.entry(250), ramp(0).entry(250));
}

TEST(PaletteFileAdd, PastesNothingForColoursTheFileDoesNotSupply) {
    TempDir dir;
    ASSERT_TRUE(writeText(dir.file("p.pl"), "4\n{1,2,3},{4,5,6},{7,8"));
    WorkingPalette pal = ramp(16);
    pal.selected = 2;
    addPaletteFile(dir.file("p.pl"), pal);
    EXPECT_EQ(pal.entry(1), ramp(0).entry(1));
    EXPECT_EQ(pal.entry(2), (PaletteColour{1, 2, 3}));
    EXPECT_EQ(pal.entry(3), (PaletteColour{4, 5, 6}));
    EXPECT_EQ(pal.entry(4), ramp(0).entry(4));
}

TEST(PaletteFileErrors, UnreadableOrUnwritableFilesReportAndChangeNothing) {
    TempDir dir;
    WorkingPalette pal = ramp(16);
    EXPECT_EQ(loadPaletteFile(dir.file("missing.pl"), pal), PaletteFileError::CannotRead);
    EXPECT_EQ(addPaletteFile(dir.file("missing.pl"), pal), PaletteFileError::CannotRead);
    EXPECT_EQ(savePaletteFile(dir.file("no/such/dir/p.pl"), pal), PaletteFileError::CannotWrite);
    EXPECT_EQ(pal.historyPos, 0);
    EXPECT_EQ(pal.count, 16);

    EXPECT_STREQ(paletteFileMessage(PaletteFileError::CannotWrite).text, "書き込みがが出来ません。");
    EXPECT_STREQ(paletteFileMessage(PaletteFileError::CannotWrite).title, "保存エラー");
    EXPECT_STREQ(paletteFileMessage(PaletteFileError::CannotRead).text, "読込みがが出来ません。");
    EXPECT_STREQ(paletteFileMessage(PaletteFileError::CannotRead).title, "読込エラー");
}

}  // namespace
}  // namespace qel
