// CThresholdDlg: "白黒にする", asks for the threshold of the black-and-white
// conversion (0 .. 255, starting at 1 every time).
#pragma once

#include <cstdint>

#include "gui/kit/ddx.h"

class QLineEdit;

class CThresholdDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    explicit CThresholdDlg(QWidget* parent = nullptr);

    int32_t m_threshold = 1;
    QLineEdit* thresholdEdit() const { return edit_; }

    // OK: a value outside 0 .. 255 is refused with "0-255の数を入れてください。" before the field checks.
    void accept() override;

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    QLineEdit* edit_;
};
