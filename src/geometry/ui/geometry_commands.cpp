// Geometry commands of the view: scale, mix and fractal.
#include "view/qel_view.h"

void CQelView::onScale() {}
void CQelView::onMix() {}
void CQelView::onFractal() {}
