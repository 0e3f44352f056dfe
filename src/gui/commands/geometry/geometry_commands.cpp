// Geometry commands of the view with a dialog or a message: scale, mix, crop and deskew.
#include "gui/commands/geometry/geometry_commands.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <sstream>

#include "core/commands/command_table.h"
#include "core/geometry/geometry.h"
#include "core/ops/operation.h"
#include "gui/commands/geometry/crop_dlg.h"
#include "gui/commands/geometry/mix_dlg.h"
#include "gui/commands/geometry/scale_dlg.h"
#include "gui/docview/qel_doc.h"
#include "gui/kit/dialog_service.h"

namespace qel::ui {

namespace {

void scale(CQelView& view) {
    CQelDoc* doc = view.document();
    const auto header = doc->image->header();
    CScaleDlg dlg(header.biWidth, header.biHeight, &view);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t width = dlg.m_width;
    const int32_t height = dlg.m_height;
    const bool interpolate = dlg.m_interpolate != 0;
    // runImageCommand gives the document and every view the new size; the document's scroll size is
    // the new size at this view's zoom.
    const bool done = view.runOperation(cmd::ID_SCALE, ScaleSettings{width, height, interpolate});
    if (done && doc->bitmap) {
        doc->scrollWidth = static_cast<int32_t>(std::trunc(doc->imageWidth * double(view.zoom)));
        doc->scrollHeight = static_cast<int32_t>(std::trunc(doc->imageHeight * double(view.zoom)));
    }
}

// Why the file named in 混合 cannot be mixed, or empty when it can: the reader's message, the file and the
// reason. The file is read on its own first (onto a 1 x 1 picture, copying nothing), so a file that
// cannot be mixed changes nothing, not even the undo store.
QString mixRefusal(const QString& fileName, const std::string& path) {
    DibImage probe;
    probe.replace(makeInfoBlock(newHeader(1, 1, 24, 0, 4), 0), qel::PixelBytes(4));
    MixStatus status = MixStatus::NotApplied;
    const OpResult r = mixFile(probe, path, 0, 0, 0, 0, 0, 0, 1.0f, 0, &status);
    if (status == MixStatus::Mixed) return {};
    QString why = QString::fromStdString(r.reason);
    if (status == MixStatus::CannotOpen) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) why = file.errorString();
    }
    const UserMessage m = messageFor(status == MixStatus::CannotOpen ? ImageError::MissLoad : ImageError::NotBitmap);
    return QString::fromUtf8(m.text) + QLatin1Char('\n') + QDir::toNativeSeparators(fileName) +
           (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
}

void mix(CQelView& view) {
    CMixDlg dlg(&view);
    dlg.m_documentPath = view.document()->pathName();
    dlg.m_startX = dlg.m_startY = dlg.m_copyX = dlg.m_copyY = 0;
    dlg.m_rectWidth = view.document()->imageWidth;
    dlg.m_rectHeight = view.document()->imageHeight;
    if (dlg.exec() != QDialog::Accepted || dlg.m_fileName.isEmpty()) return;
    const std::string path = QFile::encodeName(dlg.m_fileName).toStdString();
    if (const QString refusal = mixRefusal(dlg.m_fileName, path); !refusal.isEmpty()) {
        dialogs().message(&view, refusal, QString::fromUtf8(messageFor(ImageError::MissLoad).title), Buttons::Ok,
                          Icon::Error);
        return;
    }
    const uint32_t transparent = packColourRef(dlg.m_keyRed, dlg.m_keyGreen, dlg.m_keyBlue);
    view.runOperation(cmd::ID_MIX, MixSettings{.path = path, .startX = dlg.m_startX, .startY = dlg.m_startY,
                                               .width = dlg.m_rectWidth, .height = dlg.m_rectHeight,
                                               .copyX = dlg.m_copyX, .copyY = dlg.m_copyY, .ratio = dlg.m_ratio,
                                               .transparent = transparent});
}

int cropCommand() { return commandOf(*findOperation("crop")); }

// The rectangle goes to the runner as field values: it checks them against the picture before the snapshot.
void crop(CQelView& view) {
    CCropDlg dlg(view.document()->imageWidth, view.document()->imageHeight, &view);
    if (dlg.exec() != QDialog::Accepted) return;
    view.runOperation(cropCommand(), FieldValues{int64_t(dlg.m_x), int64_t(dlg.m_y), int64_t(dlg.m_width),
                                                 int64_t(dlg.m_height)});
}

int deskewCommand() { return commandOf(*findOperation("deskew")); }

// Says the tilt found once the picture is upright (or was left as it is: below 0.05 degrees).
void deskew(CQelView& view) {
    std::ostringstream tilt;
    if (!view.runOperation(deskewCommand(), {}, &tilt)) return;
    std::string degrees = tilt.str();
    while (!degrees.empty() && degrees.back() == '\n') degrees.pop_back();
    if (degrees.empty()) return;  // refused: the runner said nothing
    dialogs().message(&view, QStringLiteral("傾き補正: %1度").arg(QString::fromStdString(degrees)), QStringLiteral("傾き補正"),
                      Buttons::Ok, Icon::None);
}

}  // namespace

void registerGeometryCommands(ViewCommands& commands) {
    commands.add(cmd::ID_SCALE, scale);
    commands.add(cmd::ID_MIX, mix);
    commands.add(cropCommand(), crop);
    commands.add(deskewCommand(), deskew);
}

}  // namespace qel::ui
