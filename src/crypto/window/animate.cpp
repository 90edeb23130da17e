#include "crypto/window/animate.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

namespace ravelin::crypto {

TAnimate::TAnimate(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(60);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = m_frame >= StopFrame ? StartFrame : m_frame + 1;
        update();
    });
    setFixedSize(sizeHint());
}

bool TAnimate::Active() const
{
    return m_timer->isActive();
}

void TAnimate::setActive(bool active)
{
    if (active)
        m_timer->start();
    else
        m_timer->stop();
    m_frame = StartFrame;
    update();
}

void TAnimate::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    // The folder the sheet leaves.
    const QColor folderColour(230, 190, 80);
    const QRectF folder(18, 22, 48, 32);
    p.setPen(QPen(folderColour.darker(150), 1));
    p.setBrush(folderColour.darker(112));
    p.drawRoundedRect(QRectF(folder.left(), folder.top() - 6, 18, 9), 2, 2);
    p.setBrush(folderColour);
    p.drawRoundedRect(folder, 3, 3);

    // The bin it lands in.
    const QRectF bin(206, 20, 40, 36);
    p.setPen(QPen(QColor(70, 80, 95), 1.5));
    p.setBrush(QColor(170, 185, 200));
    QPainterPath body;
    body.moveTo(bin.left(), bin.top());
    body.lineTo(bin.right(), bin.top());
    body.lineTo(bin.right() - 5, bin.bottom());
    body.lineTo(bin.left() + 5, bin.bottom());
    body.closeSubpath();
    p.drawPath(body);
    p.drawRoundedRect(QRectF(bin.left() - 4, bin.top() - 5, bin.width() + 8, 5), 2, 2);
    for (int i = 1; i < 4; ++i) {
        const double x = bin.left() + i * bin.width() / 4;
        p.drawLine(QPointF(x, bin.top() + 5),
                   QPointF(x + (x < bin.center().x() ? 2 : -2) * 0.5, bin.bottom() - 4));
    }

    // The sheet on its arc: frame 1 at the folder, frame 24 above the bin.
    const double t = double(m_frame - StartFrame) / double(StopFrame - StartFrame);
    const double x = 42 + t * (226 - 42);
    const double y = 26 - std::sin(t * M_PI) * 22;
    p.save();
    p.translate(x, y);
    p.rotate(t * 200);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(-8, -10, 16, 20));
    p.setPen(QPen(QColor(120, 140, 200), 1));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(-5, -6 + i * 4), QPointF(5, -6 + i * 4));
    p.restore();
}

} // namespace ravelin::crypto
