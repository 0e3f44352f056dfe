// Screen capture: the command starts the capture window; its result arrives in onCaptureFinished.
#include "view/qel_view.h"

void CQelView::onScreenCapture() {}
void CQelView::onCaptureFinished(const QRect&) {}
