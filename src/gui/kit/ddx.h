// Dialog data exchange: moves values between a dialog's fields and its
// members and checks them on OK. A failed check shows the standard message
// through the DialogService, puts the focus on the offending field with its
// text selected and keeps the dialog open; later fields are not read.
//
//     void CScaleDlg::doDataExchange(qel::ui::DataExchange& dx) {
//         dx.intField(widthEdit_, m_width, 1, 30000);
//         dx.floatField(factorEdit_, m_factor, 0.0f, 100.0f);
//     }
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QAbstractButton;
class QLineEdit;

namespace qel::ui {

// Integer text: optional spaces, an optional sign, decimal digits, optional spaces; nothing else and
// no value outside 32 bits.
std::optional<int32_t> parseInteger(const QString& text);
// Number text: optional spaces, an optional sign, digits with an optional decimal point and exponent,
// optional spaces; infinities and values too large for a double are refused. Independent of the locale.
std::optional<double> parseNumber(const QString& text);
// A number as the fields show it: the shortest of 6 (float) or 15 (double) significant digits.
QString formatNumber(double value, int significantDigits);

class DataExchange {
public:
    enum class Direction { ToDialog, FromDialog };
    DataExchange(QWidget* dialog, Direction direction);

    bool saving() const { return direction_ == Direction::FromDialog; }
    bool failed() const { return failed_; }

    // maxChars > 0 also limits the field's length ("%1 文字以内で入力してください。").
    void intField(QLineEdit* edit, int32_t& value, int maxChars = 0);
    void intField(QLineEdit* edit, int32_t& value, int32_t min, int32_t max, int maxChars = 0);
    void floatField(QLineEdit* edit, float& value, int maxChars = 0);
    void floatField(QLineEdit* edit, float& value, float min, float max, int maxChars = 0);
    void doubleField(QLineEdit* edit, double& value, int maxChars = 0);
    void doubleField(QLineEdit* edit, double& value, double min, double max, int maxChars = 0);
    void textField(QLineEdit* edit, QString& value, int maxChars = 0);
    // A check box as 0 or 1.
    void checkBox(QAbstractButton* box, int32_t& value);

    // Shows `message` (under `title`, the program's name when empty), focuses and selects `edit`, and stops
    // the exchange.
    void fail(QLineEdit* edit, const QString& message, const QString& title = {});

private:
    bool begin(QLineEdit* edit, int maxChars);
    template <class T>
    void number(QLineEdit* edit, T& value, std::optional<T> min, std::optional<T> max, int maxChars);

    QWidget* dialog_;
    Direction direction_;
    bool failed_ = false;
};

// A dialog whose fields go through DataExchange: they are filled when the dialog is first shown, and OK
// closes it only when every field passes.
class DdxDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    // Fields to members (true) or members to fields (false); false when a check failed.
    bool updateData(bool saveAndValidate);
    void accept() override;

protected:
    virtual void doDataExchange(DataExchange& dx) = 0;
    void showEvent(QShowEvent* event) override;

private:
    bool filled_ = false;
};

}  // namespace qel::ui
