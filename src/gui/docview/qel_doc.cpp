#include "gui/docview/qel_doc.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/formats/codecs.h"
#include "core/formats/file_io.h"
#include "core/lineart/centre_lines.h"
#include "gui/docview/qel_view.h"
#include "gui/docview/svg_save_dlg.h"
#include "gui/kit/dialog_service.h"

using qel::ui::Answer;
using qel::ui::Buttons;
using qel::ui::dialogs;

namespace {
int untitledCount = 0;

// Save As offers every format that can be written; the extension chosen decides.
const char* const kSaveFilter =
    "BMP(*.bmp)|*.bmp|PNG(*.png)|*.png|JPEG(*.jpg;*.jpeg)|*.jpg;*.jpeg|TIFF(*.tif;*.tiff)|*.tif;*.tiff|WebP(*.webp)|*.webp|";

QString extensionOf(qel::ImageFormat format) {
    switch (format) {
    case qel::ImageFormat::Png:
    case qel::ImageFormat::Gif: return QStringLiteral("png");  // GIF is read only: PNG keeps every pixel
    case qel::ImageFormat::Jpeg: return QStringLiteral("jpg");
    case qel::ImageFormat::Tiff: return QStringLiteral("tif");
    case qel::ImageFormat::Webp: return QStringLiteral("webp");
    default: return QStringLiteral("bmp");
    }
}
}

CQelDoc::CQelDoc(QObject* parent) : QObject(parent), image(std::make_unique<qel::DibImage>()) {}

CQelDoc::~CQelDoc() = default;

void CQelDoc::resetUntitledCounterForTesting() { untitledCount = 0; }

void CQelDoc::setTitle(const QString& title) {
    title_ = title;
    emit titleChanged();
}

bool CQelDoc::onNewDocument() {
    setTitle(QStringLiteral("Qel%1").arg(++untitledCount));
    scrollWidth = 1;
    scrollHeight = 1;
    return true;
}

bool CQelDoc::onOpenDocument(const QString& path) {
    qel::ImageError error = qel::ImageError::None;
    std::string why;
    const std::string file = QFile::encodeName(path).toStdString();
    try {
        bitmap = image->loadFile(file, &error, &why);
    } catch (const std::bad_alloc&) {
        // A picture larger than the memory left: nothing is opened and the program goes on.
        image->clear();
        bitmap = nullptr;
        dialogs().message(nullptr, QStringLiteral("メモリーが不足しています。"), QStringLiteral("エラー"), Buttons::Ok,
                          qel::ui::Icon::Error);
        return false;
    }
    if (!bitmap) {
        // The reader's message, then the file (a drop or a command line of several files says which
        // one) and why: the reader's reason, or the system's for a file that cannot be opened.
        const auto m = qel::messageFor(error);
        if (error == qel::ImageError::MissLoad)
            if (const int code = qel::readErrno(file)) why = std::strerror(code);
        dialogs().message(nullptr,
                          QString::fromUtf8(m.text) + QLatin1Char('\n') + QDir::toNativeSeparators(path) +
                              (why.empty() ? QString() : QStringLiteral(": ") + QString::fromStdString(why)),
                          QString::fromUtf8(m.title), Buttons::Ok, qel::ui::Icon::Error);
        return false;
    }
    setSizesFromHeader();
    pathName_ = QFileInfo(path).absoluteFilePath();
    setTitle(QFileInfo(path).fileName());
    return true;
}

void CQelDoc::setSizesFromHeader() {
    const auto h = image->header();
    imageWidth = h.biWidth;
    imageHeight = h.biHeight;
    scrollWidth = imageWidth;
    scrollHeight = imageHeight;
    emit sizeChanged();
}

namespace {
// Why writing `path` failed, with the path or folder concerned: a missing folder, no permission, a full
// disk, else the system's or the writer's own reason. `error` is errno just after the write.
QString saveFailureReason(const QString& path, int error, const std::string& writerReason) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    const QString native = QDir::toNativeSeparators(file.absoluteFilePath());
    if (!folder.exists()) return QStringLiteral("フォルダがありません: ") + QDir::toNativeSeparators(folder.absoluteFilePath());
    if (file.isDir()) return QStringLiteral("同じ名前のフォルダがあります: ") + native;
    if (error == EACCES || error == EPERM || error == EROFS || !folder.isWritable() ||
        (file.exists() && !file.isWritable()))
        return QStringLiteral("書き込みの許可がありません: ") + native;
    if (error == ENOSPC || error == EDQUOT) return QStringLiteral("ディスクの空きが足りません: ") + native;
    if (!writerReason.empty()) return QString::fromStdString(writerReason) + QStringLiteral(": ") + native;
    if (error != 0) return QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral(": ") + native;
    return native;
}
}  // namespace

bool CQelDoc::writeTo(const QString& path, qel::ImageFormat format, bool thinned, const qel::CentreLineOptions& svgOptions) {
    errno = 0;
    const std::string file = QFile::encodeName(path).toStdString();
    // A thinned picture saved as .svg becomes its centre lines; the picture itself is not written.
    const bool svg = thinned && format == qel::ImageFormat::Unknown && qel::isSvgName(file);
    const qel::ImageError error = svg ? qel::saveCentreLineSvg(*image, file, svgOptions, &image->refusalReason)
                                      : image->saveFile(file, {format, 0});
    const int savedErrno = errno;
    if (error == qel::ImageError::None) return true;
    QString text = QDir::toNativeSeparators(path) + QStringLiteral("に保存できませんでした。");
    if (error == qel::ImageError::UnknownFormat)
        text += QStringLiteral("\n保存の形式は拡張子で選びます: ") + QString::fromLatin1(qel::writableExtensions());
    else if (error == qel::ImageError::NoPicture)
        text += QLatin1Char('\n') + QString::fromUtf8(qel::messageFor(error).text);
    else
        text += QLatin1Char('\n') + saveFailureReason(path, savedErrno, image->refusalReason);
    dialogs().message(nullptr, text, QStringLiteral("エラー"), Buttons::Ok, qel::ui::Icon::Error);
    return false;
}

void CQelDoc::onFileSave() {
    // The document is written in its own format; one that cannot be written (GIF) goes through Save As.
    if (pathName_.isEmpty() || !qel::canWrite(image->fileFormat)) {
        onFileSaveAs();
        return;
    }
    const QString question = QDir::toNativeSeparators(pathName_) + QStringLiteral("に上書きします。よろしいですか？");
    if (dialogs().message(nullptr, question, QStringLiteral("注意！！"), Buttons::YesNo, qel::ui::Icon::Warning) ==
            Answer::Yes &&
        writeTo(pathName_, image->fileFormat))
        setModified(false);
}

bool CQelDoc::onFileSaveAs(bool thinned) {
    qel::ui::FileRequest request;
    request.filter = QString::fromLatin1(kSaveFilter);
    if (thinned) request.filter += QStringLiteral("SVG (*.svg)|*.svg|");
    request.defaultExtension = extensionOf(image->fileFormat);
    // The document's own name with the extension of a format that can be written, in its own folder.
    const QString base = pathName_.isEmpty() ? title_ : QFileInfo(pathName_).completeBaseName();
    request.initialName = base + QLatin1Char('.') + request.defaultExtension;
    request.directory = qel::ui::startFolder(pathName_);
    request.overwritePrompt = true;
    const QString path = dialogs().saveFile(nullptr, request);
    if (path.isEmpty()) return false;
    qel::ui::rememberFolder(path);
    const bool svg = thinned && qel::isSvgName(QFile::encodeName(path).toStdString());
    qel::CentreLineOptions svgOptions;
    if (svg) {  // polylines or curves
        CSvgSaveDlg dlg;
        if (dlg.exec() != QDialog::Accepted) return false;
        svgOptions.curves = dlg.m_curves != 0;
    }
    if (!writeTo(path, qel::ImageFormat::Unknown, thinned, svgOptions)) return false;
    if (svg) return true;  // the picture is not kept there
    setModified(false);  // the work is kept in the chosen file
    return true;
}

void CQelDoc::setModified(bool modified) {
    if (modified_ == modified) return;
    modified_ = modified;
    emit titleChanged();
}

void CQelDoc::closePaletteWindows() {
    for (CQelView* v : views_)
        if (v->paletteWindow && v->paletteWindow->isVisible()) v->paletteWindow->close();
}

bool CQelDoc::saveModified() {
    closePaletteWindows();  // a check-colour preview must not be what is saved
    if (!modified_) return true;
    const QString name = pathName_.isEmpty() ? title_ : QDir::toNativeSeparators(pathName_);
    switch (dialogs().message(nullptr, name + QStringLiteral(" への変更を保存しますか？"), QStringLiteral("Zenpa"),
                              Buttons::YesNoCancel, qel::ui::Icon::Question)) {
    case Answer::Yes:
        if (pathName_.isEmpty() || !qel::canWrite(image->fileFormat)) return onFileSaveAs();
        if (!writeTo(pathName_, image->fileFormat)) return false;
        setModified(false);
        return true;
    case Answer::No: return true;
    default: return false;
    }
}

void CQelDoc::pasteBitmap(const qel::DisplayBitmap* source) {
    if (!source) return;
    imageWidth = 0;
    imageHeight = 0;
    bitmap = image->fromBitmap(*source);
    setSizesFromHeader();
    if (bitmap) emit pictureArrived();
}

void CQelDoc::addView(CQelView* view) { views_.push_back(view); }

void CQelDoc::removeView(CQelView* view) { std::erase(views_, view); }

void CQelDoc::updateAllViews() { emit pictureChanged(); }
