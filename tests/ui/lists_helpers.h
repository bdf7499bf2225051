// The two file lists of the main window as the list tests read them.
#pragma once

#include "uidriver.h"

#include <QList>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTableWidget>
#include <QToolTip>

namespace listui {

// What the hover tooltip of a listed file shows after its path.
inline const QString tipTail = QStringLiteral(" 【右键双击】可打开");

inline QTableWidget *table(MainWindow &w, int way)
{
    return uidriver::child<QTableWidget>(&w, way == 1 ? "tableWidget_list1" : "tableWidget_list2");
}

inline QPushButton *button(MainWindow &w, int way, const char *what)
{
    return w.findChild<QPushButton *>(QStringLiteral("pushButton_list%1_%2").arg(way).arg(what));
}

// The full paths of a list, in order, as its hover tooltips show them.
inline QStringList listed(MainWindow &w, int way)
{
    QTableWidget *t = table(w, way);
    QStringList paths;
    const int n = way == 1 ? t->rowCount() : t->columnCount() - 1;
    for (int i = 0; i < n; ++i) {
        QToolTip::hideText();
        if (way == 1)
            emit t->cellEntered(i, 0);
        else
            emit t->cellEntered(0, i + 1);
        QString tip = QToolTip::text();
        if (tip.endsWith(tipTail))
            tip.chop(tipTail.size());
        paths << tip;
    }
    QToolTip::hideText();
    return paths;
}

// The codes of the signals `spy` caught.
inline QList<int> codes(const QSignalSpy &spy)
{
    QList<int> out;
    for (const QList<QVariant> &args : spy)
        out << args.first().toInt();
    return out;
}

} // namespace listui
