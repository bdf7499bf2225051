// Driving the real main window offscreen as a user would: modal dialogs and
// message boxes answered from the event loop they run, the status bar read
// left to right, desktop URLs caught instead of opened.
#pragma once

#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace uidriver {

// Answers the next modal widget of type T: `act` runs once, inside the modal
// event loop, as soon as such a widget is the active modal widget. The watch
// ends with this object, so a dialog that never comes cannot leak into later
// tests; `fired()` tells whether it came.
template <typename T> class OnModal
{
public:
    explicit OnModal(std::function<void(T *)> act) : action(std::move(act))
    {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (T *w = qobject_cast<T *>(QApplication::activeModalWidget())) {
                timer.stop();
                done = true;
                action(w);
            }
        });
        timer.start();
    }
    bool fired() const { return done; }

private:
    std::function<void(T *)> action;
    QTimer timer;
    bool done = false;
};

// Types the given paths (absolute) into a non-native file dialog: the first
// path's folder becomes the dialog's folder, the names go quoted into the
// file name field.
inline void typePaths(QFileDialog *dialog, const QStringList &paths)
{
    dialog->setDirectory(QFileInfo(paths.first()).absolutePath());
    QStringList names;
    for (const QString &p : paths)
        names << QLatin1Char('"') + QFileInfo(p).fileName() + QLatin1Char('"');
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (edit)
        edit->setText(names.join(QLatin1Char(' ')));
}

// While it lives, rejects every modal dialog that comes up (message boxes
// are closed with their escape button), counting them.
class DismissAll
{
public:
    DismissAll()
    {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ++count;
                titles << d->windowTitle();
                d->reject();
            }
        });
        timer.start();
    }
    int count = 0;
    QStringList titles;

private:
    QTimer timer;
};

// Clicks `button`; the add-files dialog that comes up gets `paths` typed in
// and is accepted. False when no dialog came.
inline bool addFilesThroughDialog(QAbstractButton *button, const QStringList &paths)
{
    OnModal<QFileDialog> answer([paths](QFileDialog *d) {
        typePaths(d, paths);
        static_cast<QDialog *>(d)->accept(); // QFileDialog::accept checks the input
    });
    button->click();
    return answer.fired();
}

// A message box's title, text and button count, then closed with its first
// button.
struct BoxSeen
{
    QString title;
    QString text;
    int buttons = 0;
    QMessageBox::StandardButtons standardButtons;
};

inline std::function<void(QMessageBox *)> closeBox(BoxSeen *seen)
{
    return [seen](QMessageBox *box) {
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->buttons = box->buttons().size();
        seen->standardButtons = box->standardButtons();
        box->buttons().first()->click();
    };
}

// Types `text` into `target`: ASCII as key presses, Return between lines, and
// every other run of characters committed the way an input method does.
inline void typeText(QWidget *target, const QString &text)
{
    QString composed;
    const auto commit = [&]() {
        if (composed.isEmpty())
            return;
        QInputMethodEvent event;
        event.setCommitString(composed);
        QApplication::sendEvent(target, &event);
        composed.clear();
    };
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x80) {
            composed += ch;
            continue;
        }
        commit();
        if (ch == QLatin1Char('\n'))
            QTest::keyClick(target, Qt::Key_Return);
        else
            QTest::keyClicks(target, QString(ch));
    }
    commit();
}

// The status bar's labels, left to right.
inline QList<QLabel *> statusLabels(QMainWindow *w)
{
    QList<QLabel *> labels =
        w->statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    std::stable_sort(labels.begin(), labels.end(), [](const QLabel *a, const QLabel *b) {
        return a->geometry().x() < b->geometry().x();
    });
    return labels;
}

inline QStringList statusTexts(QMainWindow *w)
{
    QStringList texts;
    for (const QLabel *l : statusLabels(w))
        texts << l->text();
    return texts;
}

// Takes the desktop's "open this URL" requests for the file scheme.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// Points the per-user data folder (where the options live) at `dir`, and sets
// the version that the built program carries.
inline void useDataDir(const QString &dir)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVIX_VERSION));
}

// The options file the window reads and writes under the data folder `dir`.
inline QString optionsPath(const QString &dir)
{
    return dir + QStringLiteral("/qvoRt_") + QStringLiteral(TRELVIX_VERSION) +
           QStringLiteral("/qvoRt");
}

// The offscreen platform warns about every window operation it lacks (size
// hints, raise); that says nothing about the program. Call once the test runner has
// installed its own handler (in initTestCase).
inline void quietOffscreenWarnings()
{
    static QtMessageHandler next = nullptr;
    next = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
            if (!msg.startsWith(QLatin1String("This plugin does not support")))
                next(type, context, msg);
        });
}

// Drops `paths` onto the window as the desktop does.
inline void dropFiles(QWidget *target, const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

template <typename T> T *child(QObject *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

} // namespace uidriver
