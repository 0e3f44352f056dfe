// CCalculatorDlg: "関数電卓", evaluates one formula with x = 3.141592,
// y = 2.718282, z = 0. OK (or Enter) writes the answer and keeps the dialog
// open; Cancel closes it. Nothing is kept between uses.
#pragma once

#include <QDialog>

class QLineEdit;

class CCalculatorDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCalculatorDlg(QWidget* parent = nullptr);

    QLineEdit* formulaEdit() const { return formula_; }
    QLineEdit* answerEdit() const { return answer_; }

    // Computes the answer of the formula field: the value as "%f", or "数式が不正です。".
    void accept() override;

private:
    QLineEdit* formula_;
    QLineEdit* answer_;
};
