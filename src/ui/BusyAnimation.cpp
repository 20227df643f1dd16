#include "ui/BusyAnimation.h"

#include <QPainter>
#include <QPalette>

namespace larkspool {

namespace {

constexpr int Squares = 12;
constexpr int Side = 18;
constexpr int Gap = 4;
// Squares behind the head of the sweep that still glow, fading out.
constexpr int Tail = 4;
constexpr int FrameMs = 60;

QColor Blend(const QColor& From, const QColor& To, double Amount) {
    return QColor::fromRgbF(From.redF() + (To.redF() - From.redF()) * Amount,
                            From.greenF() + (To.greenF() - From.greenF()) * Amount,
                            From.blueF() + (To.blueF() - From.blueF()) * Amount);
}

} // namespace

BusyAnimation::BusyAnimation(QWidget* Parent) : QWidget(Parent) {
    setFixedSize(sizeHint());
    FTimer.setInterval(FrameMs);
    connect(&FTimer, &QTimer::timeout, this, [this] { NextFrame(); });
}

QSize BusyAnimation::sizeHint() const {
    return {272, 60};
}

void BusyAnimation::Play() {
    if (IsPlaying())
        return;
    FFrame = 0;
    FTimer.start();
    update();
}

void BusyAnimation::Stop() {
    FTimer.stop();
    FFrame = StopFrame;
    update();
}

void BusyAnimation::NextFrame() {
    FFrame = (FFrame + 1) % FrameCount;
    update();
}

void BusyAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor rest = palette().color(QPalette::Mid);
    const QColor lit = palette().color(QPalette::Highlight);
    const int left = (width() - (Squares * (Side + Gap) - Gap)) / 2;
    const int top = (height() - Side) / 2;
    // The head crosses the row and its tail in the frames of one loop, so the
    // last frames show the row at rest.
    const int head = FFrame * (Squares + Tail) / FrameCount;
    for (int i = 0; i < Squares; ++i) {
        const int behind = head - i;
        const double glow = behind >= 0 && behind < Tail ? 1.0 - double(behind) / Tail : 0.0;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Blend(rest, lit, glow));
        painter.drawRoundedRect(QRectF(left + i * (Side + Gap), top, Side, Side), 3, 3);
    }
}

} // namespace larkspool
