// The keyword editor with its line-number margin, and the table widget that
// announces mouse buttons.
#include "ui/codeeditor.h"
#include "ui/qtablewidgetex.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

class TstWidgets : public QObject
{
    Q_OBJECT

private slots:
    void marginWidth_data();
    void marginWidth();
    void marginFollowsLineCount();
    void marginPlacedAtLeft();
    void marginPaintsNumbersOnGray();
    void band();
    void bandIgnoresUserSelection();
    void readOnlyHasNoBand();

    void tableSignals_data();
    void tableSignals();
    void tableSignalBeforeView();
    void tableStillBehavesAsTable();
};

namespace {

int digitWidth(const QWidget &w)
{
    return QFontMetrics(w.font()).horizontalAdvance(QLatin1Char('9'));
}

QString lines(int n)
{
    QStringList l;
    for (int i = 1; i <= n; ++i)
        l << QStringLiteral("line %1").arg(i);
    return l.join(QLatin1Char('\n'));
}

// The room the viewport leaves at the left of the contents.
int leftRoom(CodeEditor &e)
{
    return e.viewport()->geometry().left() - e.contentsRect().left();
}

QWidget *margin(CodeEditor &e)
{
    // The margin is the editor's one direct child that is not part of the
    // scroll area's own machinery.
    for (QObject *o : e.children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w && w != e.viewport() && !w->inherits("QScrollBar") &&
            w->metaObject()->className() == QByteArray("QWidget") && w->parentWidget() == &e &&
            w->sizeHint().width() == e.lineNumberAreaWidth())
            return w;
    }
    return nullptr;
}

} // namespace

void TstWidgets::marginWidth_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("digits");
    QTest::newRow("empty editor") << 0 << 1;
    QTest::newRow("1 line") << 1 << 1;
    QTest::newRow("9 lines") << 9 << 1;
    QTest::newRow("10 lines") << 10 << 2;
    QTest::newRow("99 lines") << 99 << 2;
    QTest::newRow("100 lines") << 100 << 3;
    QTest::newRow("1000 lines") << 1000 << 4;
}

void TstWidgets::marginWidth()
{
    QFETCH(int, lineCount);
    QFETCH(int, digits);
    CodeEditor e(nullptr);
    if (lineCount > 0)
        e.setPlainText(lines(lineCount));
    QCOMPARE(e.blockCount(), qMax(1, lineCount));
    const int expected = 3 + digits * digitWidth(e);
    QCOMPARE(e.lineNumberAreaWidth(), expected);
    // The viewport leaves exactly that much room at the left.
    QCOMPARE(leftRoom(e), expected);
}

void TstWidgets::marginFollowsLineCount()
{
    CodeEditor e(nullptr);
    e.setPlainText(lines(9));
    const int one = 3 + digitWidth(e);
    QCOMPARE(leftRoom(e), one);

    // A line break at the end makes the 10th line: two digits at once.
    QTextCursor c = e.textCursor();
    c.movePosition(QTextCursor::End);
    e.setTextCursor(c);
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(e.blockCount(), 10);
    QCOMPARE(leftRoom(e), 3 + 2 * digitWidth(e));

    // Deleting it narrows the margin again.
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(e.blockCount(), 9);
    QCOMPARE(leftRoom(e), one);
}

void TstWidgets::marginPlacedAtLeft()
{
    CodeEditor e(nullptr);
    e.setPlainText(lines(120));
    e.resize(300, 200);
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    QWidget *m = margin(e);
    QVERIFY(m);
    const QRect cr = e.contentsRect();
    QCOMPARE(m->geometry(), QRect(cr.left(), cr.top(), e.lineNumberAreaWidth(), cr.height()));

    e.resize(400, 350);
    QCoreApplication::processEvents();
    const QRect cr2 = e.contentsRect();
    QCOMPARE(m->geometry(), QRect(cr2.left(), cr2.top(), e.lineNumberAreaWidth(), cr2.height()));
}

void TstWidgets::marginPaintsNumbersOnGray()
{
    CodeEditor e(nullptr);
    e.setPlainText(lines(3));
    e.resize(300, 200);
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    QWidget *m = margin(e);
    QVERIFY(m);
    const QImage img = m->grab().toImage();
    // The margin is light gray below the last number, and the numbers are
    // drawn in black somewhere in the first line's strip.
    QCOMPARE(QColor(img.pixel(1, img.height() - 2)), QColor(Qt::lightGray));
    const int lineHeight = e.fontMetrics().height();
    bool black = false;
    for (int y = 0; y < lineHeight * 3 && y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            black = black || QColor(img.pixel(x, y)).lightness() < 80;
    QVERIFY(black);
}

void TstWidgets::band()
{
    CodeEditor e(nullptr);
    QList<QTextEdit::ExtraSelection> sel = e.extraSelections();
    QCOMPARE(sel.size(), 1);
    QCOMPARE(sel.first().format.background(), QBrush(QColor(Qt::gray), Qt::SolidPattern));
    QVERIFY(sel.first().format.property(QTextFormat::FullWidthSelection).toBool());
    QCOMPARE(sel.first().cursor.blockNumber(), 0);

    e.setPlainText(lines(5));
    QTextCursor c = e.textCursor();
    c.movePosition(QTextCursor::Start);
    c.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 3);
    e.setTextCursor(c);
    sel = e.extraSelections();
    QCOMPARE(sel.size(), 1);
    QCOMPARE(sel.first().cursor.blockNumber(), 3);
}

void TstWidgets::bandIgnoresUserSelection()
{
    CodeEditor e(nullptr);
    e.setPlainText(lines(5));
    QTextCursor c = e.textCursor();
    c.movePosition(QTextCursor::Start);
    c.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 2);
    e.setTextCursor(c);
    const QList<QTextEdit::ExtraSelection> sel = e.extraSelections();
    QCOMPARE(sel.size(), 1);
    QVERIFY(!sel.first().cursor.hasSelection());
    QCOMPARE(sel.first().cursor.blockNumber(), 2);
}

void TstWidgets::readOnlyHasNoBand()
{
    CodeEditor e(nullptr);
    e.setPlainText(lines(4));
    QCOMPARE(e.extraSelections().size(), 1);
    e.setReadOnly(true);
    QTextCursor c = e.textCursor();
    c.movePosition(QTextCursor::End);
    e.setTextCursor(c);
    QVERIFY(e.extraSelections().isEmpty());
}

namespace {

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held,
               const QPoint &pos)
{
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

// Records the table's six signals by name, in the order they come.
QStringList *recordSignals(QTableWidgetEx *t)
{
    auto *seen = new QStringList;
    QObject::connect(t, &QObject::destroyed, [seen] { delete seen; });
    const auto rec = [seen](const char *name) { return [seen, name] { *seen << name; }; };
    QObject::connect(t, &QTableWidgetEx::mouseLeftReleased, rec("LeftReleased"));
    QObject::connect(t, &QTableWidgetEx::mouseRightReleased, rec("RightReleased"));
    QObject::connect(t, &QTableWidgetEx::mouseLeftPressd, rec("LeftPressd"));
    QObject::connect(t, &QTableWidgetEx::mouseRightPressd, rec("RightPressd"));
    QObject::connect(t, &QTableWidgetEx::mouseLeftDoubled, rec("LeftDoubled"));
    QObject::connect(t, &QTableWidgetEx::mouseRightDoubled, rec("RightDoubled"));
    return seen;
}

} // namespace

using Step = QPair<int, int>; // event type, button
Q_DECLARE_METATYPE(QList<Step>)

void TstWidgets::tableSignals_data()
{
    QTest::addColumn<QList<Step>>("events");
    QTest::addColumn<int>("held");
    QTest::addColumn<QStringList>("expected");

    const int P = QEvent::MouseButtonPress, R = QEvent::MouseButtonRelease,
              D = QEvent::MouseButtonDblClick;
    const auto dbl = [=](int b) { return QList<Step>{{P, b}, {R, b}, {D, b}, {R, b}}; };
    QTest::newRow("left double-click")
        << dbl(Qt::LeftButton) << 0
        << QStringList{"LeftPressd", "LeftReleased", "LeftDoubled", "LeftReleased"};
    QTest::newRow("right double-click")
        << dbl(Qt::RightButton) << 0
        << QStringList{"RightPressd", "RightReleased", "RightDoubled", "RightReleased"};
    QTest::newRow("middle double-click") << dbl(Qt::MiddleButton) << 0 << QStringList{};
    QTest::newRow("back button press") << QList<Step>{{P, Qt::BackButton}} << 0 << QStringList{};
    QTest::newRow("right press while left held")
        << QList<Step>{{P, Qt::RightButton}} << int(Qt::LeftButton) << QStringList{"RightPressd"};
    QTest::newRow("left click") << QList<Step>{{P, Qt::LeftButton}, {R, Qt::LeftButton}} << 0
                                << QStringList{"LeftPressd", "LeftReleased"};
}

void TstWidgets::tableSignals()
{
    QFETCH(QList<Step>, events);
    QFETCH(int, held);
    QFETCH(QStringList, expected);

    QTableWidgetEx t(nullptr);
    t.setRowCount(3);
    t.setColumnCount(2);
    t.resize(300, 200);
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    QStringList *seen = recordSignals(&t);
    const QPoint cell = t.visualRect(t.model()->index(1, 1)).center();
    for (const Step &s : events) {
        const auto button = Qt::MouseButton(s.second);
        const Qt::MouseButtons buttons = s.first == QEvent::MouseButtonRelease
                                             ? Qt::MouseButtons(held)
                                             : Qt::MouseButtons(held) | button;
        sendMouse(t.viewport(), QEvent::Type(s.first), button, buttons, cell);
    }
    QCOMPARE(*seen, expected);
}

void TstWidgets::tableSignalBeforeView()
{
    QTableWidgetEx t(nullptr);
    t.setRowCount(4);
    t.setColumnCount(1);
    t.resize(300, 200);
    t.show();
    QVERIFY(QTest::qWaitForWindowExposed(&t));
    t.setCurrentCell(0, 0);
    int rowAtPress = -2;
    int rowAtDouble = -2;
    connect(
        &t, &QTableWidgetEx::mouseLeftPressd, &t, [&] { rowAtPress = t.currentRow(); },
        Qt::DirectConnection);
    connect(
        &t, &QTableWidgetEx::mouseLeftDoubled, &t, [&] { rowAtDouble = t.currentRow(); },
        Qt::DirectConnection);
    const QPoint cell = t.visualRect(t.model()->index(2, 0)).center();
    QTest::mousePress(t.viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    QCOMPARE(rowAtPress, 0); // the view had not moved yet
    QTest::mouseRelease(t.viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    sendMouse(t.viewport(), QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, cell);
    QCOMPARE(rowAtDouble, 2); // set by the first press of the double-click
    QTest::mouseRelease(t.viewport(), Qt::LeftButton, Qt::NoModifier, cell);
}

namespace {

// Plays the same clicks on a table and logs what the table itself reports:
// its own signals, its current cell, its selection and whether an editor is
// open.
QStringList playClicks(QTableWidget &t)
{
    t.setRowCount(4);
    t.setColumnCount(2);
    for (int r = 0; r < 4; ++r)
        t.setItem(r, 1, new QTableWidgetItem(QString::number(r)));
    t.resize(300, 200);
    t.show();
    if (!QTest::qWaitForWindowExposed(&t))
        return {QStringLiteral("not exposed")};
    QStringList log;
    QObject::connect(&t, &QTableWidget::cellPressed,
                     [&](int r, int c) { log << QStringLiteral("pressed %1,%2").arg(r).arg(c); });
    QObject::connect(&t, &QTableWidget::cellClicked,
                     [&](int r, int c) { log << QStringLiteral("clicked %1,%2").arg(r).arg(c); });
    QObject::connect(&t, &QTableWidget::cellDoubleClicked,
                     [&](int r, int c) { log << QStringLiteral("double %1,%2").arg(r).arg(c); });
    const auto state = [&] {
        QStringList sel;
        for (const QTableWidgetItem *i : t.selectedItems())
            sel << i->text();
        log << QStringLiteral("current %1,%2 selected [%3] editor %4")
                   .arg(t.currentRow())
                   .arg(t.currentColumn())
                   .arg(sel.join(QLatin1Char(',')))
                   .arg(t.viewport()->findChild<QLineEdit *>() != nullptr);
    };
    const QPoint a = t.visualRect(t.model()->index(3, 1)).center();
    const QPoint b = t.visualRect(t.model()->index(1, 1)).center();
    QTest::mouseClick(t.viewport(), Qt::MiddleButton, Qt::NoModifier, a);
    state();
    QTest::mouseClick(t.viewport(), Qt::LeftButton, Qt::NoModifier, a);
    state();
    QTest::mouseClick(t.viewport(), Qt::RightButton, Qt::NoModifier, b);
    state();
    QTest::mouseClick(t.viewport(), Qt::LeftButton, Qt::ShiftModifier, b);
    state();
    QTest::mousePress(t.viewport(), Qt::LeftButton, Qt::NoModifier, a);
    QTest::mouseRelease(t.viewport(), Qt::LeftButton, Qt::NoModifier, a);
    sendMouse(t.viewport(), QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, a);
    QTest::mouseRelease(t.viewport(), Qt::LeftButton, Qt::NoModifier, a);
    state();
    return log;
}

} // namespace

void TstWidgets::tableStillBehavesAsTable()
{
    QTableWidget plain;
    QTableWidgetEx ex(nullptr);
    const QStringList expected = playClicks(plain);
    QVERIFY(expected.contains(QStringLiteral("double 3,1")));
    QVERIFY(expected.last().endsWith(QStringLiteral("editor 1")));
    QCOMPARE(playClicks(ex), expected);
}

QTEST_MAIN(TstWidgets)
#include "tst_widgets.moc"
