// A table widget that announces presses, releases and double-clicks of the
// left and right mouse buttons before handling them as usual.
#pragma once

#include <QTableWidget>

class QTableWidgetEx : public QTableWidget
{
    Q_OBJECT

public:
    explicit QTableWidgetEx(QWidget *parent = nullptr);
    ~QTableWidgetEx() override;

signals:
    void mouseLeftReleased();
    void mouseRightReleased();
    void mouseLeftPressd();
    void mouseRightPressd();
    void mouseLeftDoubled();
    void mouseRightDoubled();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
