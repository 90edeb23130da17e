#pragma once
// TAnimate: the short looping busy picture of the encrypt window, a sheet of
// paper flying from a folder into a bin. It shows its first frame when still
// and repeats frames StartFrame to StopFrame while Active.
//
// Threads: user-interface thread only; it animates while the event loop runs.
#include <QWidget>

class QTimer;

namespace ravelin::crypto {

class TAnimate : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE setActive)

public:
    static constexpr int StartFrame = 1;
    static constexpr int StopFrame = 24;

    explicit TAnimate(QWidget* parent = nullptr);

    bool Active() const;
    // Starts at StartFrame, or stops and shows StartFrame again.
    void setActive(bool active);
    int frame() const { return m_frame; }

    QSize sizeHint() const override { return {272, 60}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* m_timer;
    int m_frame = StartFrame;
};

} // namespace ravelin::crypto
