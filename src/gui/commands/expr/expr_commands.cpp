// Formula commands of the view: transform by formulas and the calculator.
#include "gui/commands/expr/expr_commands.h"

#include "core/commands/command_table.h"
#include "core/expr/transform.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"

namespace qel::ui {

namespace {

void transform(CQelView& view) {
    // The dialog opens with its defaults unless "保存" was ticked at the last OK.
    CTransformDlg dlg(&view);
    if (view.keepSettings == 1) {
        dlg.m_formulaX = view.formulaX;
        dlg.m_formulaY = view.formulaY;
        dlg.m_formulaZ = view.formulaZ;
        dlg.m_weightRed = view.weightRed;
        dlg.m_weightGreen = view.weightGreen;
        dlg.m_weightBlue = view.weightBlue;
        dlg.m_inverse = view.inverseTransform;
        dlg.m_keep = view.keepSettings;
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
        view.runImageCommand([&settings](qel::DibImage& image) { return qel::transformByFormula(image, settings); },
                             commandOptions(cmd::ID_TRANSFORM));
        view.formulaX = dlg.m_formulaX;
        view.formulaY = dlg.m_formulaY;
        view.formulaZ = dlg.m_formulaZ;
        view.weightRed = dlg.m_weightRed;
        view.weightGreen = dlg.m_weightGreen;
        view.weightBlue = dlg.m_weightBlue;
        view.inverseTransform = dlg.m_inverse;
        view.keepSettings = dlg.m_keep;
    }
    view.refresh();
}

void calculator(CQelView& view) {
    CCalculatorDlg dlg(&view);
    dlg.exec();
}

}  // namespace

void registerExprCommands(ViewCommands& commands) {
    commands.add(cmd::ID_TRANSFORM, transform);
    commands.add(cmd::ID_CALCULATOR, calculator);
}

}  // namespace qel::ui
