// Dialog data exchange and the threshold dialog built on it.
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/kit/ddx.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using qel::ui::DataExchange;

TEST(Ddx, IntegerTextIsDigitsWithOptionalSignAndBlanks) {
    const std::vector<std::pair<QString, std::optional<int32_t>>> cases = {
        {"0", 0},           {"  42 ", 42},         {"\t-7", -7},           {"+5", 5},
        {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"99999999999999999999", std::nullopt},
        {"", std::nullopt}, {" ", std::nullopt},   {"-", std::nullopt},    {"12a", std::nullopt},
        {"1 2", std::nullopt}, {"1.0", std::nullopt}, {"０", std::nullopt}, {"0x10", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(qel::ui::parseInteger(text), value) << text.toStdString();
}

TEST(Ddx, NumberTextIsDecimalWithOptionalExponent) {
    const std::vector<std::pair<QString, std::optional<double>>> cases = {
        {"1", 1.0},  {" 2.5 ", 2.5}, {"-.5", -0.5}, {"+3.", 3.0}, {"1e3", 1000.0}, {"-2.5E-1", -0.25},
        {"", std::nullopt}, {"abc", std::nullopt}, {"1,5", std::nullopt}, {"inf", std::nullopt},
        {"nan", std::nullopt}, {"1e999", std::nullopt}, {"0x1p3", std::nullopt}, {"--1", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(qel::ui::parseNumber(text), value) << text.toStdString();
}

TEST(Ddx, NumbersAreShownWithSixOrFifteenDigits) {
    EXPECT_EQ(qel::ui::formatNumber(1.0f, 6), "1");
    EXPECT_EQ(qel::ui::formatNumber(0.1f, 6), "0.1");
    EXPECT_EQ(qel::ui::formatNumber(2.5, 15), "2.5");
    EXPECT_EQ(qel::ui::formatNumber(1234567.0, 6), "1.23457e+06");
}

// A dialog with an integer, a float and a text field.
class SampleDlg : public qel::ui::DdxDialog {
public:
    SampleDlg() {
        auto* layout = new QVBoxLayout(this);
        for (QLineEdit* e : {count, factor, name}) layout->addWidget(e);
    }
    QLineEdit* count = new QLineEdit;
    QLineEdit* factor = new QLineEdit;
    QLineEdit* name = new QLineEdit;
    int32_t m_count = 3;
    float m_factor = 1.5f;
    QString m_name = "abc";

protected:
    void doDataExchange(DataExchange& dx) override {
        dx.intField(count, m_count, 1, 30000, 5);
        dx.floatField(factor, m_factor, 0.0f, 10.0f);
        dx.textField(name, m_name, 4);
    }
};

class DdxDialogTest : public GuiTest {};

TEST_F(DdxDialogTest, FieldsAreFilledWhenShownAndReadOnOk) {
    SampleDlg dlg;
    dlg.show();
    EXPECT_EQ(dlg.count->text(), "3");
    EXPECT_EQ(dlg.factor->text(), "1.5");
    EXPECT_EQ(dlg.name->text(), "abc");
    EXPECT_EQ(dlg.name->maxLength(), 4);
    dlg.count->setText("30000");
    dlg.factor->setText("0");
    dlg.name->setText("wxyz");
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_count, 30000);
    EXPECT_FLOAT_EQ(dlg.m_factor, 0.0f);
    EXPECT_EQ(dlg.m_name, "wxyz");
    EXPECT_TRUE(dialogs->shown().empty());
}

TEST_F(DdxDialogTest, RefusalsShowTheStandardMessageAndKeepTheDialogOnTheField) {
    struct Case {
        QString count, factor;
        QString message;
        int field;  // 0 count, 1 factor
    };
    const std::vector<Case> cases = {
        {"x", "1", "整数を入力してください。", 0},
        {"", "1", "整数を入力してください。", 0},
        {"0", "1", "1 から 30000 までの整数を入力してください。", 0},
        {"30001", "1", "1 から 30000 までの整数を入力してください。", 0},
        {"123456", "1", "5 文字以内で入力してください。", 0},
        {"5", "a", "数字を入力してください。", 1},
        {"5", "10.5", "0 から 10 までの数字を入力してください。", 1},
        {"5", "-0.001", "0 から 10 までの数字を入力してください。", 1},
    };
    for (const Case& c : cases) {
        SampleDlg dlg;
        dlg.show();
        dlg.activateWindow();
        dlg.count->setMaxLength(32767);
        dlg.count->setText(c.count);
        dlg.factor->setText(c.factor);
        dialogs->clear();
        dlg.accept();
        QLineEdit* field = c.field == 0 ? dlg.count : dlg.factor;
        EXPECT_EQ(dialogs->messages(), QStringList({"Qel: " + c.message})) << c.count.toStdString();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(field->selectedText(), field->text());
        // The refused field keeps its member; fields after it are not read.
        if (c.field == 0) {
            EXPECT_EQ(dlg.m_count, 3);
        }
        EXPECT_FLOAT_EQ(dlg.m_factor, 1.5f);
        EXPECT_EQ(dlg.m_name, "abc");
    }
}

class ThresholdDlgTest : public GuiTest {};

TEST_F(ThresholdDlgTest, StartsAtOneEveryTime) {
    CThresholdDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "白黒にする");
    dlg.show();
    EXPECT_EQ(dlg.thresholdEdit()->text(), "1");
}

TEST_F(ThresholdDlgTest, RefusesValuesOutsideTheRangeAndTextThatIsNoInteger) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"256", "エラー: 0-255の数を入れてください。"},
        {"-1", "エラー: 0-255の数を入れてください。"},
        {"abc", "Qel: 整数を入力してください。"},
        {"12x", "Qel: 整数を入力してください。"},
        {"", "Qel: 整数を入力してください。"},
    };
    for (const auto& [text, message] : cases) {
        CThresholdDlg dlg;
        dlg.show();
        dlg.thresholdEdit()->setText(text);
        dialogs->clear();
        dlg.accept();
        EXPECT_EQ(dialogs->messages(), QStringList({message})) << text.toStdString();
        EXPECT_TRUE(dlg.isVisible()) << text.toStdString();
        EXPECT_EQ(dlg.thresholdEdit()->selectedText(), dlg.thresholdEdit()->text());
    }
}

TEST_F(ThresholdDlgTest, AcceptsTheBoundsAndKeepsTheValue) {
    for (const auto& [text, value] : std::vector<std::pair<QString, int>>{{"0", 0}, {"255", 255}, {" 128 ", 128}}) {
        CThresholdDlg dlg;
        dlg.show();
        dlg.thresholdEdit()->setText(text);
        dlg.accept();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.m_threshold, value);
    }
    EXPECT_TRUE(dialogs->shown().empty());
}

}  // namespace
}  // namespace qel::test
