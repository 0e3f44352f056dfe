// CQuantizeDlg: "高画質減色", asks for the number of colours (2 .. 256, starting at the
// operation's initial 256) and whether to dither ("ディザリング", unticked at first).
#pragma once

#include <cstdint>

#include "gui/kit/int_entry_dlg.h"

class QCheckBox;

class CQuantizeDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CQuantizeDlg(QWidget* parent = nullptr);

    int32_t m_colours = 0;
    int32_t m_dither = 0;
    // OK: a count outside 2 .. 256 is refused with "2-256の数を入れてください。".
    QLineEdit* coloursEdit() const { return valueEdit(); }
    QCheckBox* ditherBox() const { return dither_; }

protected:
    int32_t& value() override { return m_colours; }
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    QCheckBox* dither_;
};
