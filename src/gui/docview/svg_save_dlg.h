// CSvgSaveDlg: "SVG で保存", asked after the name of a centre-line SVG is chosen: whether the
// centre lines are written as smooth curves ("曲線で書く", unticked at first) or as polylines.
#pragma once

#include <cstdint>

#include "gui/kit/ddx.h"

class QCheckBox;

class CSvgSaveDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    explicit CSvgSaveDlg(QWidget* parent = nullptr);

    int32_t m_curves = 0;
    QCheckBox* curvesBox() const { return curves_; }

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    QCheckBox* curves_;
};
