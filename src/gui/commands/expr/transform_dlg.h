// CTransformDlg: "関数で画像変換", gathers the formulas x'=, y'=, z'=, the
// colour weights of z (red, green, blue, -255 ... 255) and the options
// "逆変換" (inverse mapping) and "保存" (keep these settings for next time).
// Each formula is checked when its field loses the focus to another control
// of the dialog and again at OK, which an invalid one refuses; the set can be saved to and loaded from a formula file, and
// the calculator opens from the dialog.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/kit/ddx.h"
#include "core/expr/formula_file.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class CTransformDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    explicit CTransformDlg(QWidget* parent = nullptr);

    int32_t m_inverse = 1;
    QString m_formulaX = QStringLiteral("x");
    QString m_formulaY = QStringLiteral("y");
    QString m_formulaZ = QStringLiteral("0");
    float m_weightRed = 1.0f;
    float m_weightGreen = 1.0f;
    float m_weightBlue = 1.0f;
    int32_t m_keep = 0;

    QCheckBox* inverseBox() const { return inverse_; }
    QLineEdit* formulaXEdit() const { return formulaX_; }
    QLineEdit* formulaYEdit() const { return formulaY_; }
    QLineEdit* formulaZEdit() const { return formulaZ_; }
    QLineEdit* weightRedEdit() const { return weightRed_; }
    QLineEdit* weightGreenEdit() const { return weightGreen_; }
    QLineEdit* weightBlueEdit() const { return weightBlue_; }
    QCheckBox* keepBox() const { return keep_; }
    QPushButton* calculatorButton() const { return calculator_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* loadButton() const { return load_; }

    // The check run when a formula field loses the focus: "式が不正です。" when its text is no valid
    // formula. True when the text is valid.
    bool checkFormulaField(QLineEdit* edit);
    // "関数電卓": the calculator, modally; this dialog keeps its state.
    void openCalculator();
    // "ファイルに保存": the six field texts as typed and the inverse box, to a chosen formula file.
    void saveToFile();
    // "ファイルを読込": fields from a chosen formula file; the texts are checked later, as typed ones are.
    void loadFromFile();

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isFormulaEdit(QObject* object) const;
    // The six edit texts as they stand and the inverse box.
    qel::FormulaFileFields fieldsAsTyped() const;

    QCheckBox* inverse_;
    QLineEdit* formulaX_;
    QLineEdit* formulaY_;
    QLineEdit* formulaZ_;
    QLineEdit* weightRed_;
    QLineEdit* weightGreen_;
    QLineEdit* weightBlue_;
    QCheckBox* keep_;
    QPushButton* calculator_;
    QPushButton* save_;
    QPushButton* load_;
    // True while the invalid-formula message is up: the focus the message box takes is no leaving.
    bool warning_ = false;
};
