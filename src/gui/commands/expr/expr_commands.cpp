// Formula commands of the view: transform by formulas and the calculator.
#include "core/expr/transform.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"
#include "gui/docview/qel_view.h"

void CQelView::onTransform() {
    // The dialog opens with its defaults unless "保存" was ticked at the last OK.
    CTransformDlg dlg(this);
    if (keepSettings == 1) {
        dlg.m_formulaX = formulaX;
        dlg.m_formulaY = formulaY;
        dlg.m_formulaZ = formulaZ;
        dlg.m_weightRed = weightRed;
        dlg.m_weightGreen = weightGreen;
        dlg.m_weightBlue = weightBlue;
        dlg.m_inverse = inverseTransform;
        dlg.m_keep = keepSettings;
    }
    if (dlg.exec() == QDialog::Accepted) {
        qel::TransformSettings settings;
        settings.formulaX = dlg.m_formulaX.toStdString();
        settings.formulaY = dlg.m_formulaY.toStdString();
        settings.formulaZ = dlg.m_formulaZ.toStdString();
        settings.weightRed = dlg.m_weightRed;
        settings.weightGreen = dlg.m_weightGreen;
        settings.weightBlue = dlg.m_weightBlue;
        settings.inverseTransform = dlg.m_inverse;
        // An invalid formula leaves the picture as it is; the snapshot is taken all the same.
        runImageCommand([&settings](qel::DibImage& image) { return qel::transformByFormula(image, settings); });
        formulaX = dlg.m_formulaX;
        formulaY = dlg.m_formulaY;
        formulaZ = dlg.m_formulaZ;
        weightRed = dlg.m_weightRed;
        weightGreen = dlg.m_weightGreen;
        weightBlue = dlg.m_weightBlue;
        inverseTransform = dlg.m_inverse;
        keepSettings = dlg.m_keep;
    }
    refresh();
}

void CQelView::onCalculator() {
    CCalculatorDlg dlg(this);
    dlg.exec();
}
