// The scan clean-up dialogs. CAdaptiveBwDlg: "適応的白黒化", the window's side (odd) and k of the
// adaptive black and white, starting at the operation's defaults; OK refuses an even side.
// CDespeckleDlg: "ゴミ取り", the size in pixels below which specks and holes go (1 or more).
#pragma once

#include <cstdint>

#include "gui/kit/ddx.h"
#include "gui/kit/int_entry_dlg.h"

class QLineEdit;

class CAdaptiveBwDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    explicit CAdaptiveBwDlg(QWidget* parent = nullptr);

    int32_t m_window = 0;
    double m_k = 0;

    QLineEdit* windowEdit() const { return window_; }
    QLineEdit* kEdit() const { return k_; }

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    QLineEdit* window_;
    QLineEdit* k_;
};

class CDespeckleDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CDespeckleDlg(QWidget* parent = nullptr);

    int32_t m_pixels = 0;  // starts at the operation's initial value
    QLineEdit* pixelsEdit() const { return valueEdit(); }

protected:
    int32_t& value() override { return m_pixels; }
};
