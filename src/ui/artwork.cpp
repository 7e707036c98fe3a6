#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qb::ui {

namespace {

constexpr QColor kInk{0x1d, 0x4e, 0x89};
constexpr QColor kSky{0x3a, 0x86, 0xc8};
constexpr QColor kPaper{0xfb, 0xf8, 0xef};
constexpr QColor kQuill{0xe0, 0x8a, 0x1e};

// The icon on a 64 x 64 canvas, scaled by the painter.
void paintIcon(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    // Envelope.
    QRectF env(6, 20, 46, 32);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kPaper);
    p.drawRoundedRect(env, 3, 3);
    QPainterPath flap;
    flap.moveTo(env.topLeft() + QPointF(1, 1));
    flap.lineTo(env.center().x(), env.top() + 18);
    flap.lineTo(env.topRight() + QPointF(-1, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    // Quill across the corner.
    QPainterPath feather;
    feather.moveTo(30, 50);
    feather.cubicTo(36, 30, 48, 12, 60, 4);
    feather.cubicTo(58, 18, 50, 34, 30, 50);
    p.setPen(QPen(kQuill.darker(130), 1.5));
    p.setBrush(kQuill);
    p.drawPath(feather);
    p.setPen(QPen(kQuill.darker(160), 1.5));
    p.drawLine(QPointF(30, 50), QPointF(55, 12));
}

}  // namespace

QIcon AppIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QPixmap pm(size, size);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.scale(size / 64.0, size / 64.0);
            paintIcon(p);
            p.end();
            i.addPixmap(pm);
        }
        return i;
    }();
    return icon;
}

void PaintBanner(QPainter& p, const QRect& area) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(area.topLeft(), area.topRight());
    g.setColorAt(0, kInk);
    g.setColorAt(1, kSky);
    p.fillRect(area, g);
    // The icon at the left, on a paper disc.
    const int h = area.height();
    const int side = h - 12;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(QRect(area.left() + 8, area.top() + 6, side, side));
    p.translate(area.left() + 8, area.top() + 6);
    p.scale(side / 64.0, side / 64.0);
    paintIcon(p);
    p.restore();
    p.save();
    QFont title = p.font();
    title.setPixelSize(h * 2 / 5);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    const QRect text(area.left() + side + 24, area.top(), area.width() - side - 32, h);
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, QString());
    QRect titleRect = text.adjusted(0, h / 8, 0, 0);
    p.drawText(titleRect, Qt::AlignLeft | Qt::AlignTop, "Quillbox");
    QFont sub = p.font();
    sub.setPixelSize(std::max(10, h / 5));
    sub.setBold(false);
    p.setFont(sub);
    p.setPen(QColor(255, 255, 255, 220));
    p.drawText(text.adjusted(0, 0, 0, -h / 8), Qt::AlignLeft | Qt::AlignBottom,
               "Backup and restore for your e-mail");
    p.restore();
}

}  // namespace qb::ui
