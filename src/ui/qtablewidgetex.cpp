#include "ui/qtablewidgetex.h"

#include <QMouseEvent>

QTableWidgetEx::QTableWidgetEx(QWidget *parent) : QTableWidget(parent) {}

QTableWidgetEx::~QTableWidgetEx() = default;

namespace {

using Signal = void (QTableWidgetEx::*)();

// Emits the left or the right signal for the button that caused the event.
void announce(QTableWidgetEx *table, const QMouseEvent *event, Signal left, Signal right)
{
    if (event->button() == Qt::LeftButton)
        emit(table->*left)();
    else if (event->button() == Qt::RightButton)
        emit(table->*right)();
}

} // namespace

void QTableWidgetEx::mousePressEvent(QMouseEvent *event)
{
    announce(this, event, &QTableWidgetEx::mouseLeftPressd, &QTableWidgetEx::mouseRightPressd);
    QTableWidget::mousePressEvent(event);
}

void QTableWidgetEx::mouseReleaseEvent(QMouseEvent *event)
{
    announce(this, event, &QTableWidgetEx::mouseLeftReleased, &QTableWidgetEx::mouseRightReleased);
    QTableWidget::mouseReleaseEvent(event);
}

void QTableWidgetEx::mouseDoubleClickEvent(QMouseEvent *event)
{
    announce(this, event, &QTableWidgetEx::mouseLeftDoubled, &QTableWidgetEx::mouseRightDoubled);
    QTableWidget::mouseDoubleClickEvent(event);
}
