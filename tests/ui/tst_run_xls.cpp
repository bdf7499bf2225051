// A run through the real window over .xls and .xlsx files together: the .xls
// workbooks go through LibreOffice, the .xlsx ones through the embedded
// application, and every file is read back by its own independent reader
// (xlrd, openpyxl).
#include "automation/excelapp/excelapp.h"
#include "automation/libreoffice/libreoffice.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "uidriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

// The text of a cell, from xlrd for .xls and openpyxl for .xlsx.
QString cellText(const QString &file, const QString &sheet, const QString &ref)
{
    if (file.endsWith(QLatin1String(".xlsx")))
        return testsupport::cellValue(testsupport::dumpWorkbook(file), sheet, ref).toString();
    for (const QJsonValue &s : testsupport::dumpXls(file).value("sheets").toArray()) {
        if (s.toObject().value("name").toString() == sheet)
            return s.toObject().value("cells").toObject().value(ref).toVariant().toString();
    }
    return QString();
}

} // namespace

class TestRunXls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void mixedRun_data();
    void mixedRun();

private:
    QString copyOf(const QString &pristine, const QString &name);
    template <typename T> T *w(MainWindow *win, const char *name)
    {
        return win->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_dir;
    QString m_xlsx;
    QString m_xls;
};

void TestRunXls::initTestCase()
{
    excelapp::registerApplication();
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        QSKIP("LibreOffice is not installed");
    QVERIFY(m_dir.isValid());
    uidriver::useDataDir(m_dir.filePath(QStringLiteral("data")));
    uidriver::quietOffscreenWarnings();
    const QJsonObject spec = QJsonDocument::fromJson(R"({"writer": "xlsxwriter", "active": 1,
        "sheets": [{"name": "First", "cells": {"A1": "apple pie", "B1": "Apple"}},
                   {"name": "Data", "cells": {"A1": "apple pie", "B1": "Apple"}}]})")
                                 .object();
    m_xlsx = m_dir.filePath(QStringLiteral("pristine.xlsx"));
    QString error;
    QVERIFY2(testsupport::makeXls(m_xlsx, spec, m_dir.filePath(QStringLiteral("profile")), &error),
             qPrintable(error));
    m_xls = m_dir.filePath(QStringLiteral("pristine.xls"));
}

void TestRunXls::cleanupTestCase()
{
    QList<qint64> pids;
    for (const libreoffice::InstanceInfo &i : libreoffice::instances())
        pids << i.pid;
    libreoffice::shutdownInstances();
    for (qint64 pid : qAsConst(pids))
        QVERIFY(::kill(pid_t(pid), 0) != 0);
}

QString TestRunXls::copyOf(const QString &pristine, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    QFile::copy(pristine, path);
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void TestRunXls::mixedRun_data()
{
    QTest::addColumn<bool>("positionMode");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("a1");
    QTest::addColumn<QString>("b1");

    QTest::newRow("keywords, whole cell, any case") << false << "apple|zzz"
                                                    << "pear"
                                                    << "apple pie"
                                                    << "pear";
    QTest::newRow("cell positions") << true << "A1\nB1"
                                    << "新值\nplum"
                                    << "新值"
                                    << "plum";
}

void TestRunXls::mixedRun()
{
    QFETCH(bool, positionMode);
    QFETCH(QString, keys);
    QFETCH(QString, values);
    QFETCH(QString, a1);
    QFETCH(QString, b1);

    // Two of each kind, and an .xls that LibreOffice cannot load.
    const QStringList good{copyOf(m_xls, "one.xls"), copyOf(m_xlsx, "two.xlsx"),
                           copyOf(m_xls, "three.xls"), copyOf(m_xlsx, "four.xlsx")};
    const QString broken = copyOf(m_xls, "broken.xls");
    QVERIFY(testsupport::xlsTool({QStringLiteral("garble"), broken}));
    const QByteArray brokenBytes = testsupport::readAll(broken);

    MainWindow win;
    win.show();
    QApplication::setActiveWindow(&win);
    QVERIFY(QTest::qWaitForWindowActive(&win));
    w<QTabWidget>(&win, "tabWidget_1")->setCurrentIndex(0);
    QVERIFY(uidriver::addFilesThroughDialog(w<QPushButton>(&win, "pushButton_list1_Add"),
                                            good.mid(0, 2) + QStringList{broken} + good.mid(2)));
    QApplication::setActiveWindow(&win);
    QVERIFY(QTest::qWaitForWindowActive(&win));
    auto *table = w<QTableWidget>(&win, "tableWidget_list1");
    QCOMPARE(table->rowCount(), 5);

    if (positionMode)
        w<QRadioButton>(&win, "radioButton_position")->click();
    w<QCheckBox>(&win, "checkBox_lookAt")->setChecked(true);
    w<QComboBox>(&win, "comboBox")->setCurrentText(QStringLiteral("所有表"));
    uidriver::typeText(w<QPlainTextEdit>(&win, "plainTextEdit_s1"), keys);
    uidriver::typeText(w<QPlainTextEdit>(&win, "plainTextEdit_s2"), values);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("broken.xls: LibreOffice"));
    QTest::mouseClick(w<QPushButton>(&win, "pushButton_replace"), Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(uidriver::statusTexts(&win).value(4),
                              QStringLiteral("文件替换处理全部完成!"), 120000);
    const QStringList status = uidriver::statusTexts(&win);
    QCOMPARE(status.value(1), QStringLiteral(" 成功(4)"));
    QCOMPARE(status.value(2), QStringLiteral(" <font color='red'>失败(1)</font>"));
    for (int row = 0; row < table->rowCount(); ++row) {
        const bool failed = table->item(row, 0)->text().endsWith(QLatin1String("broken.xls"));
        QCOMPARE(table->item(row, 0)->background().color() == QColor(Qt::red), failed);
    }
    QCOMPARE(testsupport::readAll(broken), brokenBytes);
    for (const QString &f : good) {
        for (const QString &sheet : {QStringLiteral("First"), QStringLiteral("Data")}) {
            QCOMPARE(cellText(f, sheet, QStringLiteral("A1")), a1);
            QCOMPARE(cellText(f, sheet, QStringLiteral("B1")), b1);
        }
    }
}

QTEST_MAIN(TestRunXls)
#include "tst_run_xls.moc"
