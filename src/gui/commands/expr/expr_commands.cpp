// Formula commands of the view: transform by formulas and the calculator.
#include "gui/commands/expr/expr_commands.h"

#include "core/commands/command_table.h"
#include "core/expr/transform.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"

namespace qel::ui {

namespace {

// The transform settings a view remembers, copied into the dialog or back from it.
enum class Direction { ToDialog, ToView };
void exchangeSettings(CQelView& v, CTransformDlg& d, Direction direction) {
    auto sync = [direction](auto& viewField, auto& dialogField) {
        if (direction == Direction::ToDialog) dialogField = viewField;
        else viewField = dialogField;
    };
    sync(v.formulaX, d.m_formulaX);
    sync(v.formulaY, d.m_formulaY);
    sync(v.formulaZ, d.m_formulaZ);
    sync(v.weightRed, d.m_weightRed);
    sync(v.weightGreen, d.m_weightGreen);
    sync(v.weightBlue, d.m_weightBlue);
    sync(v.inverseTransform, d.m_inverse);
    sync(v.keepSettings, d.m_keep);
}

void transform(CQelView& view) {
    // The dialog opens with its defaults unless "保存" was ticked at the last OK.
    CTransformDlg dlg(&view);
    if (view.keepSettings == 1) exchangeSettings(view, dlg, Direction::ToDialog);
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
        exchangeSettings(view, dlg, Direction::ToView);
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
