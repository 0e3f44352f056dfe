// The calculator's answer, the dialog's field checks and formula files.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/expr/calculator.h"
#include "core/expr/formula_file.h"
#include "core/expr/transform.h"
#include "support/text_image.h"

namespace qel {
namespace {

TEST(Calculator, ShowsTheValueAsPercentFOrTheInvalidText) {
    const std::pair<const char*, const char*> cases[] = {
        {"x*y", "8.539733"},
        {"z+1", "1.000000"},
        {"sin(x)", "0.054804"},
        {"1 2", "12.000000"},
        {"1/3", "0.333333"},
        {"0-0.0000001", "-0.000000"},
        {"10^20", "100000000000000000000.000000"},
        {"exp(1000)", "inf"},
        {"0-exp(1000)", "-inf"},
        {"(0-2)^0.5", "nan"},
        {"0-(0-2)^0.5", "nan"},
        {"", "数式が不正です。"},
        {"2x", "数式が不正です。"},
        {"sin 30", "数式が不正です。"},
    };
    for (const auto& [typed, answer] : cases) EXPECT_EQ(calculatorAnswer(typed), answer) << typed;
}

TEST(Calculator, FormatsExactlyAsPrintfInTheCLocale) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> mantissa(-1, 1);
    std::uniform_int_distribution<int> exponent(-12, 40);
    char expected[512];
    for (int i = 0; i < 20000; ++i) {
        const double v = mantissa(gen) * std::pow(10.0, exponent(gen));
        std::snprintf(expected, sizeof expected, "%f", v);
        ASSERT_EQ(formatFixed6(v), expected) << v;
    }
    std::snprintf(expected, sizeof expected, "%f", 1.7976931348623157e308);
    EXPECT_EQ(formatFixed6(1.7976931348623157e308), expected);
}

TEST(Calculator, IgnoresTheProcessLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(calculatorAnswer("1.5*2"), "3.000000");
    float w = 0;
    EXPECT_EQ(parseWeight("0.5", w), WeightCheck::Ok);
    EXPECT_EQ(w, 0.5f);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(TransformFields, FormulaCheckOnLeavingAField) {
    EXPECT_FALSE(formulaIsValid(""));
    EXPECT_FALSE(formulaIsValid("x+"));
    EXPECT_TRUE(formulaIsValid("x + 10"));
    EXPECT_TRUE(formulaIsValid("99-x"));
}

TEST(TransformFields, WeightsParseAsDecimalFloatsWithinTheRange) {
    struct Case {
        const char* text;
        WeightCheck check;
        float value;
    };
    const Case cases[] = {
        {"1", WeightCheck::Ok, 1},         {" 0.5\t", WeightCheck::Ok, 0.5f},   {"-255", WeightCheck::Ok, -255},
        {"+3", WeightCheck::Ok, 3},        {"5.", WeightCheck::Ok, 5},          {".25", WeightCheck::Ok, 0.25f},
        {"1e2", WeightCheck::Ok, 100},     {"2.5E-1", WeightCheck::Ok, 0.25f},  {"1e-400", WeightCheck::Ok, 0},
        {"0.1", WeightCheck::Ok, 0.1f},
        {"255.001", WeightCheck::OutOfRange, 0}, {"1e3", WeightCheck::OutOfRange, 0},
        {"-256", WeightCheck::OutOfRange, 0},    {"1e400", WeightCheck::OutOfRange, 0},
        {"", WeightCheck::NotANumber, 0},    {"abc", WeightCheck::NotANumber, 0}, {"1,5", WeightCheck::NotANumber, 0},
        {".", WeightCheck::NotANumber, 0},   {"1e", WeightCheck::NotANumber, 0},  {"inf", WeightCheck::NotANumber, 0},
        {"nan", WeightCheck::NotANumber, 0}, {"0x10", WeightCheck::NotANumber, 0}, {"1 2", WeightCheck::NotANumber, 0},
        {"--1", WeightCheck::NotANumber, 0},
    };
    for (const auto& c : cases) {
        float v = -99;
        EXPECT_EQ(parseWeight(c.text, v), c.check) << c.text;
        if (c.check == WeightCheck::Ok) EXPECT_EQ(v, c.value) << c.text;
        else EXPECT_EQ(v, -99) << "a refused text leaves the value alone: " << c.text;
    }
}

FormulaFileFields sampleFields() {
    return {"x+10", "y*2", "sin(x)", "1", "0.5", "-2", true};
}

TEST(FormulaFile, WritesSevenLinesWithoutAFinalLineEnd) {
    EXPECT_EQ(formulaFileText(sampleFields()), "x+10\ny*2\nsin(x)\n1\n0.5\n-2\n1");
    auto f = sampleFields();
    f.inverse = false;
    f.formulaX = "x + 10";
    EXPECT_EQ(formulaFileText(f), "x + 10\ny*2\nsin(x)\n1\n0.5\n-2\n0");
}

TEST(FormulaFile, FormulasWithoutSpacesSurviveSaveAndLoad) {
    test::TempDir dir;
    const auto path = dir.file("set.fnc");
    for (bool inverse : {true, false}) {
        auto saved = sampleFields();
        saved.inverse = inverse;
        ASSERT_TRUE(writeFormulaFile(path, saved));
        FormulaFileFields loaded{"a", "b", "c", "d", "e", "f", !inverse};
        ASSERT_EQ(readFormulaFile(path, loaded), FormulaFileStatus::Loaded);
        EXPECT_EQ(loaded.formulaX, saved.formulaX);
        EXPECT_EQ(loaded.formulaY, saved.formulaY);
        EXPECT_EQ(loaded.formulaZ, saved.formulaZ);
        EXPECT_EQ(loaded.weightRed, saved.weightRed);
        EXPECT_EQ(loaded.weightGreen, saved.weightGreen);
        EXPECT_EQ(loaded.weightBlue, saved.weightBlue);
        EXPECT_EQ(loaded.inverse, inverse);
    }
}

TEST(FormulaFile, ReadsWordsSoSpacesShiftTheItems) {
    auto saved = sampleFields();
    saved.formulaX = "x + 10";
    FormulaFileFields loaded;
    ASSERT_EQ(readFormulaFileText(formulaFileText(saved), loaded), FormulaFileStatus::Loaded);
    EXPECT_EQ(loaded.formulaX, "x");
    EXPECT_EQ(loaded.formulaY, "+");
    EXPECT_EQ(loaded.formulaZ, "10");
    EXPECT_EQ(loaded.weightRed, "y*2");
    EXPECT_EQ(loaded.weightGreen, "sin(x)");
    EXPECT_EQ(loaded.weightBlue, "1");
    EXPECT_FALSE(loaded.inverse) << "the seventh item is 0.5, whose integer is 0";
}

TEST(FormulaFile, InverseIsTickedExactlyWhenTheSeventhItemIsOne) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true}, {"2", false}, {"0", false}, {"+1", true}, {"01", true}, {"1abc", true}, {"abc", false},
        {"-1", false}, {"--1", false}, {"99999999999999999999999", false}, {"1\r\n", true}, {"\n\n  1", true},
    };
    for (const auto& [last, ticked] : cases) {
        FormulaFileFields f;
        f.inverse = !ticked;
        ASSERT_EQ(readFormulaFileText(std::string("x\r\ny\r\n0\r\n1\r\n1\r\n1\r\n") + last, f), FormulaFileStatus::Loaded);
        EXPECT_EQ(f.inverse, ticked) << last;
        EXPECT_EQ(f.weightBlue, "1");
    }
}

TEST(FormulaFile, MissingItemsLeaveTheirFieldsAsTheyWere) {
    FormulaFileFields f{"a", "b", "c", "d", "e", "f", false};
    ASSERT_EQ(readFormulaFileText("x+1\n  y\n", f), FormulaFileStatus::Loaded);
    EXPECT_EQ(f.formulaX, "x+1");
    EXPECT_EQ(f.formulaY, "y");
    EXPECT_EQ(f.formulaZ, "c");
    EXPECT_EQ(f.weightBlue, "f");
    EXPECT_FALSE(f.inverse);

    FormulaFileFields g{"a", "b", "c", "d", "e", "f", true};
    ASSERT_EQ(readFormulaFileText("1\n2\n3\n4\n5\n6\n", g), FormulaFileStatus::Loaded);
    EXPECT_EQ(g.weightBlue, "6");
    EXPECT_TRUE(g.inverse) << "no seventh item";

    FormulaFileFields e{"a", "b", "c", "d", "e", "f", true};
    ASSERT_EQ(readFormulaFileText("", e), FormulaFileStatus::Loaded);
    EXPECT_EQ(e.formulaX, "a");
}

TEST(FormulaFile, OverlongWordOrUnreadableFileChangesNothing) {
    FormulaFileFields f{"a", "b", "c", "d", "e", "f", true};
    const std::string ok127(127, 'x');
    ASSERT_EQ(readFormulaFileText(ok127 + "\ny", f), FormulaFileStatus::Loaded);
    EXPECT_EQ(f.formulaX, ok127);
    FormulaFileFields g{"a", "b", "c", "d", "e", "f", true};
    EXPECT_EQ(readFormulaFileText("x\n" + std::string(128, 'y') + "\n0\n1\n1\n1\n0", g), FormulaFileStatus::Malformed);
    EXPECT_EQ(g.formulaX, "a");
    EXPECT_TRUE(g.inverse);
    test::TempDir dir;
    EXPECT_EQ(readFormulaFile(dir.file("missing.fnc"), g), FormulaFileStatus::CannotOpen);
    EXPECT_EQ(g.formulaX, "a");
    EXPECT_FALSE(writeFormulaFile(dir.file("no/such/dir/set.fnc"), sampleFields()));
}

}  // namespace
}  // namespace qel
