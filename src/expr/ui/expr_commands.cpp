// Formula commands of the view: transform by formulas and the calculator.
#include "view/qel_view.h"

void CQelView::onTransform() {}
void CQelView::onCalculator() {}
