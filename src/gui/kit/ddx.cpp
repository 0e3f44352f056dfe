#include "gui/kit/ddx.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QShowEvent>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "gui/kit/dialog_keys.h"
#include "gui/kit/dialog_service.h"

namespace qel::ui {

namespace {
QString trimmedBlanks(const QString& text) {
    int b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return text.mid(b, e - b);
}

void showDdxMessage(QWidget* owner, const QString& text, const QString& title = QStringLiteral("Qel")) {
    dialogs().message(owner, text, title, Buttons::Ok, Icon::Warning);
}

template <class T>
constexpr int digitsOf() { return std::is_same_v<T, float> ? 6 : 15; }
}  // namespace

std::optional<int32_t> parseInteger(const QString& text) {
    const std::string s = trimmedBlanks(text).toStdString();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<double> parseNumber(const QString& text) {
    std::string s = trimmedBlanks(text).toStdString();
    size_t start = 0;
    if (!s.empty() && s[0] == '+') start = 1;
    const size_t body = (start < s.size() && s[start] == '-') ? start + 1 : start;
    if (body >= s.size() || !(std::isdigit(static_cast<unsigned char>(s[body])) || s[body] == '.')) return std::nullopt;
    double v = 0;
    const char* first = s.data() + start;
    const char* last = s.data() + s.size();
    auto [end, ec] = std::from_chars(first, last, v, std::chars_format::general);
    if (ec != std::errc() || end != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString formatNumber(double value, int significantDigits) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, significantDigits);
    if (ec != std::errc()) return QString::number(value, 'g', significantDigits);
    return QString::fromLatin1(buffer, static_cast<int>(end - buffer));
}

DataExchange::DataExchange(QWidget* dialog, Direction direction) : dialog_(dialog), direction_(direction) {}

void DataExchange::fail(QLineEdit* edit, const QString& message, const QString& title) {
    failed_ = true;
    if (title.isEmpty())
        showDdxMessage(dialog_, message);
    else
        showDdxMessage(dialog_, message, title);
    if (edit) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

bool DataExchange::begin(QLineEdit* edit, int maxChars) {
    if (failed_ || !edit) return false;
    if (!saving()) {
        if (maxChars > 0) edit->setMaxLength(maxChars);
        return true;
    }
    if (maxChars > 0 && edit->text().size() > maxChars) {
        fail(edit, QStringLiteral("%1 文字以内で入力してください。").arg(maxChars));
        return false;
    }
    return true;
}

void DataExchange::intField(QLineEdit* edit, int32_t& value, int maxChars) {
    if (!begin(edit, maxChars)) return;
    if (!saving()) {
        edit->setText(QString::number(value));
        return;
    }
    const auto v = parseInteger(edit->text());
    if (!v) return fail(edit, QStringLiteral("整数を入力してください。"));
    value = *v;
}

void DataExchange::intField(QLineEdit* edit, int32_t& value, int32_t min, int32_t max, int maxChars) {
    if (!begin(edit, maxChars)) return;
    if (!saving()) {
        edit->setText(QString::number(value));
        return;
    }
    const auto v = parseInteger(edit->text());
    if (!v) return fail(edit, QStringLiteral("整数を入力してください。"));
    if (*v < min || *v > max)
        return fail(edit, QStringLiteral("%1 から %2 までの整数を入力してください。").arg(min).arg(max));
    value = *v;
}

template <class T>
void DataExchange::number(QLineEdit* edit, T& value, std::optional<T> min, std::optional<T> max, int maxChars) {
    if (!begin(edit, maxChars)) return;
    if (!saving()) {
        edit->setText(formatNumber(value, digitsOf<T>()));
        return;
    }
    auto v = parseNumber(edit->text());
    if (v && std::is_same_v<T, float> && std::fabs(*v) > std::numeric_limits<float>::max()) v.reset();
    if (!v) return fail(edit, QStringLiteral("数字を入力してください。"));
    const T t = static_cast<T>(*v);
    if ((min && t < *min) || (max && t > *max))
        return fail(edit, QStringLiteral("%1 から %2 までの数字を入力してください。")
                              .arg(formatNumber(*min, digitsOf<T>()), formatNumber(*max, digitsOf<T>())));
    value = t;
}

void DataExchange::floatField(QLineEdit* edit, float& value, int maxChars) {
    number<float>(edit, value, std::nullopt, std::nullopt, maxChars);
}
void DataExchange::floatField(QLineEdit* edit, float& value, float min, float max, int maxChars) {
    number<float>(edit, value, min, max, maxChars);
}
void DataExchange::doubleField(QLineEdit* edit, double& value, int maxChars) {
    number<double>(edit, value, std::nullopt, std::nullopt, maxChars);
}
void DataExchange::doubleField(QLineEdit* edit, double& value, double min, double max, int maxChars) {
    number<double>(edit, value, min, max, maxChars);
}

void DataExchange::textField(QLineEdit* edit, QString& value, int maxChars) {
    if (!begin(edit, maxChars)) return;
    if (saving()) value = edit->text();
    else edit->setText(value);
}

void DataExchange::checkBox(QAbstractButton* box, int32_t& value) {
    if (failed_ || !box) return;
    if (saving()) value = box->isChecked() ? 1 : 0;
    else box->setChecked(value != 0);
}

bool DdxDialog::updateData(bool saveAndValidate) {
    DataExchange dx(this, saveAndValidate ? DataExchange::Direction::FromDialog : DataExchange::Direction::ToDialog);
    doDataExchange(dx);
    return !dx.failed();
}

void DdxDialog::accept() {
    if (updateData(true)) QDialog::accept();
}

void DdxDialog::showEvent(QShowEvent* event) {
    if (!filled_) {
        filled_ = true;
        updateData(false);
        readyForKeyboard(this);
    }
    QDialog::showEvent(event);
}

}  // namespace qel::ui
