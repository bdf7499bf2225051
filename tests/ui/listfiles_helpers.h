// Helpers for the tests of the list files and of drops: the window's widgets
// by object name, its visible state as text, modal dialogs answered from the
// event loop, list files written by openpyxl, and a folder locked against new files.
#pragma once

#include "testsupport.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

namespace lftest {

// Gives the window's options a folder of the test's own: the test-mode data
// location below a home that lives as long as the test.
inline void useOwnOptions(const QTemporaryDir &home)
{
    QVERIFY(home.isValid());
    qputenv("HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                .startsWith(home.path()));
}

template <typename T> T *child(QWidget *w, const char *name)
{
    T *found = w->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline QTabWidget *tabs(QWidget *w)
{
    return child<QTabWidget>(w, "tabWidget_1");
}
inline QTableWidget *list1(QWidget *w)
{
    return child<QTableWidget>(w, "tableWidget_list1");
}
inline QTableWidget *list2(QWidget *w)
{
    return child<QTableWidget>(w, "tableWidget_list2");
}
inline QPlainTextEdit *editor(QWidget *w, int which)
{
    return child<QPlainTextEdit>(w, which == 1 ? "plainTextEdit_s1" : "plainTextEdit_s2");
}
inline QPushButton *button(QWidget *w, const char *name)
{
    return child<QPushButton>(w, name);
}
inline QAction *action(QWidget *w, const char *name)
{
    return child<QAction>(w, name);
}

// The status-bar labels, left to right.
inline QStringList statusTexts(QMainWindow *w)
{
    QStringList texts;
    const auto labels =
        w->statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QLabel *l : labels)
        texts << l->text();
    return texts;
}

// What the user sees of both tabs, one line per fact, so that two states can
// be compared with QCOMPARE and a difference shows where it is.
inline QStringList visibleState(QMainWindow *w)
{
    QStringList s;
    s << QStringLiteral("tab %1").arg(tabs(w)->currentIndex());
    const QTableWidget *t1 = list1(w);
    s << QStringLiteral("list1 rows %1").arg(t1->rowCount());
    for (int r = 0; r < t1->rowCount(); ++r)
        s << QStringLiteral("list1 %1: %2")
                 .arg(r)
                 .arg(t1->item(r, 0) ? t1->item(r, 0)->text() : QStringLiteral("<none>"));
    const QTableWidget *t2 = list2(w);
    s << QStringLiteral("list2 %1x%2").arg(t2->rowCount()).arg(t2->columnCount());
    for (int c = 0; c < t2->columnCount(); ++c) {
        const QTableWidgetItem *h = t2->horizontalHeaderItem(c);
        s << QStringLiteral("list2 header %1: %2").arg(c).arg(h ? h->text() : QString());
    }
    for (int r = 0; r < t2->rowCount(); ++r)
        for (int c = 0; c < t2->columnCount(); ++c)
            s << QStringLiteral("list2 (%1,%2): %3")
                     .arg(r)
                     .arg(c)
                     .arg(t2->item(r, c) ? t2->item(r, c)->text() : QStringLiteral("<none>"));
    s << QStringLiteral("s1: ") + editor(w, 1)->toPlainText();
    s << QStringLiteral("s2: ") + editor(w, 2)->toPlainText();
    const QStringList bar = statusTexts(w);
    for (int i = 0; i + 1 < bar.size(); ++i) // the counts, not the status text
        s << QStringLiteral("bar %1: %2").arg(i).arg(bar.at(i));
    return s;
}

inline QStringList rowTexts(const QTableWidget *t, int column)
{
    QStringList texts;
    for (int r = 0; r < t->rowCount(); ++r)
        texts << (t->item(r, column) ? t->item(r, column)->text() : QString());
    return texts;
}

inline QStringList headerTexts(const QTableWidget *t)
{
    QStringList texts;
    for (int c = 0; c < t->columnCount(); ++c)
        texts << (t->horizontalHeaderItem(c) ? t->horizontalHeaderItem(c)->text() : QString());
    return texts;
}

// Answers the modal dialogs that come up while it lives (keep one alive at a
// time, in a block around the action): file dialogs take
// the next of `answers` (typed as the file name and accepted; an empty answer
// cancels), an overwrite question is answered Yes, and any other message box
// is recorded and closed with OK.
class Modals : public QObject
{
public:
    explicit Modals(QStringList answers = {}) : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &Modals::poll);
        m_timer.start(10);
    }

    QStringList dialogTitles;  // window titles of the file dialogs
    QStringList proposedNames; // the file name each file dialog offered
    QStringList dialogFolders; // the folder each file dialog showed
    QStringList boxTitles;     // message boxes closed with OK
    QStringList boxTexts;
    int questionsAnswered = 0;

private:
    // Each answer runs from the event loop, not from the timer's own call: a
    // dialog that an answer opens (the overwrite question of a save dialog) is
    // then still seen by the timer. A widget is answered once: until its answer
    // has returned it is not looked at again (the save dialog is the active
    // modal widget again for a moment after its question was answered, and a
    // second answer queued then would reach it after it is gone), and the
    // answer is dropped if the widget went away before it ran.
    void later(QWidget *target, std::function<void()> answer)
    {
        m_pending = true;
        m_answering.append(QPointer<QWidget>(target));
        QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(target), answer]() {
            m_pending = false;
            if (guard && guard->isVisible())
                answer();
            m_answering.removeAll(guard);
        });
    }

    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (m_pending || !modal || m_answering.contains(QPointer<QWidget>(modal)))
            return;
        if (auto *dlg = qobject_cast<QFileDialog *>(modal)) {
            if (!dlg->isVisible())
                return;
            QLineEdit *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            dialogTitles << dlg->windowTitle();
            proposedNames << (edit ? edit->text() : QString());
            dialogFolders << dlg->directory().absolutePath();
            const QString answer = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
            if (answer.isEmpty() || !edit) {
                later(dlg, [dlg]() { dlg->reject(); });
            } else {
                edit->setText(answer);
                // QFileDialog's own accept, through the public QDialog slot.
                later(dlg, [dlg]() { static_cast<QDialog *>(dlg)->accept(); });
            }
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (!box->isVisible())
                return;
            if (QAbstractButton *yes = box->button(QMessageBox::Yes)) {
                ++questionsAnswered;
                later(box, [yes]() { yes->click(); });
                return;
            }
            boxTitles << box->windowTitle();
            boxTexts << box->text();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                later(box, [ok]() { ok->click(); });
            else
                later(box, [box]() { box->reject(); });
        }
    }

    QStringList m_answers;
    QTimer m_timer;
    bool m_pending = false;
    QList<QPointer<QWidget>> m_answering;
};

// A worksheet for testsupport::makeWorkbook: cells by reference, values as
// given (strings, numbers).
inline QJsonObject sheet(const QString &name, const QJsonObject &cells = {})
{
    return QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("cells"), cells}};
}

inline QJsonObject book(const QJsonArray &sheets)
{
    return QJsonObject{{QStringLiteral("writer"), QStringLiteral("openpyxl")},
                       {QStringLiteral("sheets"), sheets}};
}

inline QString filesSheet1()
{
    return QStringLiteral("Tabrix方式一_文件列表");
}
inline QString keysSheet1()
{
    return QStringLiteral("Tabrix方式一_关键字列表");
}
inline QString sheet2()
{
    return QStringLiteral("Tabrix方式二_替换文件列表");
}

// A first-way list file: paths down column A of the first sheet; keys and
// values below the headers of the second.
inline QJsonObject firstWayBook(const QStringList &files, const QStringList &keys,
                                const QStringList &values)
{
    QJsonObject f;
    for (int i = 0; i < files.size(); ++i)
        f.insert(QStringLiteral("A%1").arg(i + 1), files.at(i));
    QJsonObject k{{QStringLiteral("A1"), QStringLiteral("被替换关键字:")},
                  {QStringLiteral("B1"), QStringLiteral("欲替换为:")}};
    for (int i = 0; i < keys.size(); ++i)
        k.insert(QStringLiteral("A%1").arg(i + 2), keys.at(i));
    for (int i = 0; i < values.size(); ++i)
        k.insert(QStringLiteral("B%1").arg(i + 2), values.at(i));
    return book({sheet(filesSheet1(), f), sheet(keysSheet1(), k)});
}

// A second-way list file: paths across row 1 from B1; each row a key and its
// values.
inline QJsonObject secondWayBook(const QStringList &files, const QList<QStringList> &rows)
{
    QJsonObject c{{QStringLiteral("A1"), QStringLiteral("关键字或位置")}};
    const QString letters = QStringLiteral("ABCDEFGHIJ");
    for (int j = 0; j < files.size(); ++j)
        c.insert(letters.at(j + 1) + QStringLiteral("1"), files.at(j));
    for (int r = 0; r < rows.size(); ++r)
        for (int j = 0; j < rows.at(r).size(); ++j)
            if (!rows.at(r).at(j).isEmpty())
                c.insert(letters.at(j) + QString::number(r + 2), rows.at(r).at(j));
    return book({sheet(sheet2(), c)});
}

// The cells of one sheet of an openpyxl dump, empty texts left out, each
// value as text ("ref=value").
inline QStringList dumpedCells(const QJsonObject &dump, const QString &sheetName)
{
    QStringList cells;
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        const QJsonObject o = s.toObject();
        if (o.value(QStringLiteral("name")).toString() != sheetName)
            continue;
        const QJsonObject c = o.value(QStringLiteral("cells")).toObject();
        for (auto it = c.begin(); it != c.end(); ++it) {
            const QString text = it.value().toVariant().toString();
            if (!text.isEmpty())
                cells << it.key() + QLatin1Char('=') + text;
        }
    }
    cells.sort();
    return cells;
}

inline QStringList dumpedSheetNames(const QJsonObject &dump)
{
    QStringList names;
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray())
        names << s.toObject().value(QStringLiteral("name")).toString();
    return names;
}

// The first argument of each signal `spy` caught, as text.
inline QStringList codes(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

// Makes a folder refuse new files for as long as it lives: by its permission
// bits, or, for root (whom they do not stop), by the immutable attribute.
class LockedFolder
{
public:
    explicit LockedFolder(const QString &dir) : m_dir(dir)
    {
        if (::geteuid() != 0) {
            m_locked = QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
            m_byChmod = true;
        } else {
            m_locked =
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir}) == 0;
        }
    }
    ~LockedFolder()
    {
        if (!m_locked)
            return;
        if (m_byChmod)
            QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_dir});
    }
    bool locked() const { return m_locked; }

private:
    QString m_dir;
    bool m_locked = false;
    bool m_byChmod = false;
};

} // namespace lftest
