// Formula commands of the view: transform by formulas and the calculator.
#include "gui/commands/expr/expr_commands.h"

#include "core/commands/command_table.h"
#include "core/expr/transform.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"

namespace qel::ui {

namespace {

// The settings in the dialog's fields, or back from them.
enum class Direction { ToDialog, FromDialog };
void exchangeSettings(qel::TransformSettings& s, CTransformDlg& d, Direction direction) {
    auto sync = [direction](auto& setting, auto& field, auto toField, auto fromField) {
        if (direction == Direction::ToDialog) field = toField(setting);
        else setting = fromField(field);
    };
    auto same = [](auto v) { return v; };
    auto toText = [](const std::string& t) { return QString::fromStdString(t); };
    auto fromText = [](const QString& t) { return t.toStdString(); };
    sync(s.formulaX, d.m_formulaX, toText, fromText);
    sync(s.formulaY, d.m_formulaY, toText, fromText);
    sync(s.formulaZ, d.m_formulaZ, toText, fromText);
    sync(s.weightRed, d.m_weightRed, same, same);
    sync(s.weightGreen, d.m_weightGreen, same, same);
    sync(s.weightBlue, d.m_weightBlue, same, same);
    sync(s.inverseTransform, d.m_inverse, same, same);
    sync(s.keepSettings, d.m_keep, same, same);
}

void transform(CQelView& view) {
    // The dialog opens with its defaults unless "保存" was ticked at the last OK; each view remembers its own.
    qel::TransformSettings& remembered = view.familyState<qel::TransformSettings>();
    CTransformDlg dlg(&view);
    if (remembered.keepSettings == 1) exchangeSettings(remembered, dlg, Direction::ToDialog);
    if (dlg.exec() == QDialog::Accepted) {
        exchangeSettings(remembered, dlg, Direction::FromDialog);
        view.runOperation(cmd::ID_TRANSFORM, remembered);
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
