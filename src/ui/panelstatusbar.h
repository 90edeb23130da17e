#pragma once
// A status bar of fixed-width text panels, as the main window's bottom strip
// shows it: each panel is a sunken label; the last panel takes what is left.
#include <QList>
#include <QWidget>

class QLabel;

namespace ravelin::ui {

class PanelStatusBar : public QWidget {
    Q_OBJECT
public:
    // `widths` gives each panel's width in pixels.
    explicit PanelStatusBar(const QList<int>& widths, QWidget* parent = nullptr);

    int panelCount() const;
    // Out-of-range indexes are ignored / give an empty text.
    void setPanelText(int index, const QString& text);
    QString panelText(int index) const;
    QLabel* panel(int index) const;

private:
    QList<QLabel*> m_panels;
};

} // namespace ravelin::ui
