#include "gui/kit/dialog_keys.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <vector>

namespace qel::ui {

namespace {

// Selects a text field's text when the focus comes to it by any way but the mouse (a click places
// the cursor where it was clicked).
class SelectOnFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason)
                if (auto* edit = qobject_cast<QLineEdit*>(watched)) edit->selectAll();
        }
        return false;
    }
};

}  // namespace

void readyForKeyboard(QDialog* dialog) {
    if (QLayout* layout = dialog->layout()) layout->activate();
    std::vector<QWidget*> stops;
    for (QWidget* w : dialog->findChildren<QWidget*>())
        if (w->window() == dialog && w->isVisibleTo(dialog) && (w->focusPolicy() & Qt::TabFocus)) stops.push_back(w);
    // Rows: a widget whose middle lies below the bottom of the row so far starts a new one.
    const auto rect = [dialog](QWidget* w) { return QRect(w->mapTo(dialog, QPoint(0, 0)), w->size()); };
    std::stable_sort(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) { return rect(a).top() < rect(b).top(); });
    std::vector<std::vector<QWidget*>> rows;
    int bottom = -1;
    for (QWidget* w : stops) {
        if (rows.empty() || rect(w).center().y() > bottom) rows.emplace_back();
        rows.back().push_back(w);
        bottom = std::max(bottom, rect(w).bottom());
    }
    QWidget* previous = nullptr;
    for (auto& row : rows) {
        std::stable_sort(row.begin(), row.end(), [&](QWidget* a, QWidget* b) { return rect(a).left() < rect(b).left(); });
        for (QWidget* w : row) {
            if (previous) QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
    // The default button is set now that the button is inside the dialog: set earlier, the dialog
    // does not keep it, and the default then follows the focus for good.
    for (QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>())
        for (QAbstractButton* b : box->buttons())
            if (auto* push = qobject_cast<QPushButton*>(b); push && box->buttonRole(b) == QDialogButtonBox::AcceptRole) push->setDefault(true);
    auto* filter = new SelectOnFocus(dialog);
    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
        if (!edit->isReadOnly()) edit->installEventFilter(filter);
}

}  // namespace qel::ui
