#include "gui/docview/qel_doc.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <new>

#include "core/formats/codecs.h"
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
    case qel::ImageFormat::Png: return QStringLiteral("png");
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
    try {
        bitmap = image->loadFile(QFile::encodeName(path).toStdString(), &error);
    } catch (const std::bad_alloc&) {
        // A picture larger than the memory left: nothing is opened and the program goes on.
        image->clear();
        bitmap = nullptr;
        dialogs().message(nullptr, QStringLiteral("メモリーが不足しています。"), QStringLiteral("エラー"), Buttons::Ok,
                          qel::ui::Icon::Error);
        return false;
    }
    if (!bitmap) {
        const auto m = qel::messageFor(error);
        dialogs().message(nullptr, QString::fromUtf8(m.text), QString::fromUtf8(m.title), Buttons::Ok,
                          qel::ui::Icon::Error);
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

bool CQelDoc::writeTo(const QString& path, qel::ImageFormat format) {
    const qel::ImageError error = image->saveFile(QFile::encodeName(path).toStdString(), {format, 0});
    if (error == qel::ImageError::None) return true;
    QString text = QDir::toNativeSeparators(path) + QStringLiteral("に保存できませんでした。");
    if (error == qel::ImageError::UnknownFormat)
        text += QStringLiteral("\n保存の形式は拡張子で選びます: ") + QString::fromLatin1(qel::writableExtensions());
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

bool CQelDoc::onFileSaveAs() {
    qel::ui::FileRequest request;
    request.filter = QString::fromLatin1(kSaveFilter);
    request.defaultExtension = extensionOf(image->fileFormat);
    request.initialName = QStringLiteral("*.") + request.defaultExtension;
    request.overwritePrompt = true;
    const QString path = dialogs().saveFile(nullptr, request);
    if (path.isEmpty() || !writeTo(path, qel::ImageFormat::Unknown)) return false;
    setModified(false);  // the work is kept in the chosen file
    return true;
}

void CQelDoc::setModified(bool modified) {
    if (modified_ == modified) return;
    modified_ = modified;
    emit titleChanged();
}

bool CQelDoc::saveModified() {
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
}

void CQelDoc::addView(CQelView* view) { views_.push_back(view); }

void CQelDoc::removeView(CQelView* view) { std::erase(views_, view); }

void CQelDoc::updateAllViews() { emit pictureChanged(); }
