#include "gui/docview/qel_doc.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <new>

#include "gui/kit/dialog_service.h"

using qel::ui::Answer;
using qel::ui::Buttons;
using qel::ui::dialogs;

namespace {
int untitledCount = 0;
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

bool CQelDoc::writeTo(const QString& path) {
    const qel::ImageError error = image->saveFile(QFile::encodeName(path).toStdString());
    if (error == qel::ImageError::None) return true;
    dialogs().message(nullptr, QDir::toNativeSeparators(path) + QStringLiteral("に保存できませんでした。"),
                      QStringLiteral("エラー"), Buttons::Ok, qel::ui::Icon::Error);
    return false;
}

void CQelDoc::onFileSave() {
    if (pathName_.isEmpty()) {
        onFileSaveAs();
        return;
    }
    const QString question = QDir::toNativeSeparators(pathName_) + QStringLiteral("に上書きします。よろしいですか？");
    if (dialogs().message(nullptr, question, QStringLiteral("注意！！"), Buttons::YesNo, qel::ui::Icon::Warning) ==
            Answer::Yes &&
        writeTo(pathName_))
        setModified(false);
}

bool CQelDoc::onFileSaveAs() {
    qel::ui::FileRequest request;
    request.filter = QStringLiteral("BMP(*.bmp)|*.bmp|");
    request.defaultExtension = QStringLiteral("bmp");
    request.initialName = QStringLiteral("*.bmp");
    request.overwritePrompt = true;
    const QString path = dialogs().saveFile(nullptr, request);
    if (path.isEmpty() || !writeTo(path)) return false;
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
        if (pathName_.isEmpty()) return onFileSaveAs();
        if (!writeTo(pathName_)) return false;
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
