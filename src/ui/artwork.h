// The program's pictures, drawn in code so they stay sharp at every size: the
// icon (an envelope with a quill) and the banner across the main window's top.
#pragma once

#include <QIcon>

class QPainter;
class QRect;

namespace qb::ui {

QIcon AppIcon();
void PaintBanner(QPainter& p, const QRect& area);

}  // namespace qb::ui
