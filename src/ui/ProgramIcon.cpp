#include "ui/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace larkspool {

QPixmap ProgramPixmap(int Size) {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = Size;
    // A spool of thread: a dark blue disc, two rims, and a bird's wing over it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x4e, 0x79));
    p.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
    p.setBrush(QColor(0xe8, 0xc5, 0x6a));
    p.drawRoundedRect(QRectF(s * 0.22, s * 0.26, s * 0.56, s * 0.48), s * 0.04, s * 0.04);
    p.setPen(QPen(QColor(0xb3, 0x8b, 0x2d), qMax<qreal>(1, s / 32)));
    for (int i = 1; i < 5; ++i) {
        const qreal y = s * (0.26 + 0.48 * i / 5);
        p.drawLine(QPointF(s * 0.24, y), QPointF(s * 0.76, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf4, 0xf4, 0xf4));
    p.drawRect(QRectF(s * 0.16, s * 0.2, s * 0.68, s * 0.07));
    p.drawRect(QRectF(s * 0.16, s * 0.73, s * 0.68, s * 0.07));
    QPainterPath wing;
    wing.moveTo(s * 0.18, s * 0.5);
    wing.cubicTo(s * 0.4, s * 0.18, s * 0.7, s * 0.16, s * 0.9, s * 0.1);
    wing.cubicTo(s * 0.72, s * 0.3, s * 0.5, s * 0.42, s * 0.18, s * 0.5);
    p.setBrush(QColor(0xc0, 0x39, 0x2b));
    p.drawPath(wing);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(ProgramPixmap(size));
    return icon;
}

} // namespace larkspool
