// Shared set-up of the GUI tests: a main frame with a scripted dialog service,
// pictures written to a temporary directory and opened as documents.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <QString>
#include <memory>

#include "gui/shell/child_frame.h"
#include "gui/shell/main_frame.h"
#include "gui/docview/qel_doc.h"
#include "gui/kit/scripted_dialogs.h"
#include "support/text_image.h"
#include "gui/docview/qel_view.h"

namespace qel::test {

// Once the event loop runs (inside a modal dialog's own loop), calls `action` with the shown dialog of
// type T. The action must close the dialog.
template <class T>
void whenShown(std::function<void(T*)> action, int tries = 100) {
    QTimer::singleShot(0, [action, tries] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dlg = qobject_cast<T*>(w); dlg && dlg->isVisible()) return action(dlg);
        if (tries > 0) whenShown<T>(action, tries - 1);
    });
}

// Runs `act` on the next modal dialog as soon as it is shown.
inline void onNextDialog(std::function<void(QDialog*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start();
}


// Runs posted events, deferred deletions included.
void processEvents();

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the picture to a file in the temporary directory and opens it in a new window.
    CQelDoc* open(const DibImage& image, const QString& name = QStringLiteral("picture.bmp"));
    QString writePicture(const DibImage& image, const QString& name);
    CQelView* view() const { return frame->activeView(); }
    CQelDoc* doc() const { return frame->activeDocument(); }
    bool enabled(int id) const { return frame->isCommandEnabled(id); }

    TempDir dir;
    qel::ui::ScriptedDialogService* dialogs = nullptr;
    std::unique_ptr<CMainFrame> frame;

private:
    std::unique_ptr<qel::ui::DialogService> previous_;
};

// A w x h picture of the given depth with a deterministic pattern.
std::unique_ptr<DibImage> pattern(int width, int height, int bitCount);

}  // namespace qel::test
