// Line-art commands of the view: thinning, straightening, line tidy, line tidy 2.
#include "view/qel_view.h"

void CQelView::onThin() {}
void CQelView::onStraighten() {}
void CQelView::onTidy() {}
void CQelView::onTidy2() {}
