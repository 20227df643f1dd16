#pragma once

// The progress window's busy animation: a row of squares with a highlight
// that sweeps across while a save runs. Drawn by the widget itself, so the
// program carries no clip.

#include <QTimer>
#include <QWidget>

namespace larkspool {

class BusyAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int FrameCount = 32;
    // Shown when stopped: the sweep has left the row and every square rests.
    static constexpr int StopFrame = 31;

    explicit BusyAnimation(QWidget* Parent = nullptr);

    void Play();
    void Stop();
    bool IsPlaying() const { return FTimer.isActive(); }
    int Frame() const { return FFrame; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    void NextFrame();

    QTimer FTimer;
    int FFrame = StopFrame;
};

} // namespace larkspool
