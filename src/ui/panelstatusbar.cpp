#include "ui/panelstatusbar.h"

#include <QHBoxLayout>
#include <QLabel>

namespace ravelin::ui {

PanelStatusBar::PanelStatusBar(const QList<int>& widths, QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 1, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < widths.size(); ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Panel%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setFixedWidth(widths[i]);
        label->setTextFormat(Qt::PlainText);
        m_panels.append(label);
        layout->addWidget(label);
    }
    layout->addStretch(1);
}

int PanelStatusBar::panelCount() const
{
    return static_cast<int>(m_panels.size());
}

void PanelStatusBar::setPanelText(int index, const QString& text)
{
    if (index >= 0 && index < m_panels.size())
        m_panels[index]->setText(text);
}

QString PanelStatusBar::panelText(int index) const
{
    return index >= 0 && index < m_panels.size() ? m_panels[index]->text() : QString();
}

QLabel* PanelStatusBar::panel(int index) const
{
    return index >= 0 && index < m_panels.size() ? m_panels[index] : nullptr;
}

} // namespace ravelin::ui
