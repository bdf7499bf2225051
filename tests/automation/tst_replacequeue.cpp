// Range.Replace calls held back and applied together: whatever comes between
// them (a read, a Value write, a save, another sheet), the workbook ends as
// one walk per call leaves it, and each call answers what it changed. Read
// back with openpyxl.
#include "automation/excel.h"
#include "jobs.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

class ReplaceQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();

private:
    QTemporaryDir m_dir;
};

void ReplaceQueueTest::steps_data()
{
    // Steps, separated by ";": "R<sheet> what with" replaces in the used range,
    // "V<sheet> ref text" writes a cell, "A<sheet>" reads the used range's
    // address, "S" saves. Two sheets "S1" and "S2", filled from `cells`.
    QTest::addColumn<QString>("cells"); // JSON: {"S1": {...}, "S2": {...}}
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("results");  // Replace results in order, "1"/"0"
    QTest::addColumn<QString>("expected"); // JSON, as cells

    const QString ab = R"({"S1":{"A1":"a","A2":"b","B1":"ab"},"S2":{"A1":"a"}})";
    QTest::newRow("calls feeding each other")
        << ab << "R1 a b;R1 b c;R1 q z;S"
        << "110"
        << R"({"S1":{"A1":"c","A2":"c","B1":"cc"},"S2":{"A1":"a"}})";
    QTest::newRow("a match only once the queue is applied")
        << R"({"S1":{"A1":"a","A2":"x"},"S2":{"A1":"a"}})"
        << "R1 a b;R1 b c;S"
        << "11"
        << R"({"S1":{"A1":"c","A2":"x"},"S2":{"A1":"a"}})";
    QTest::newRow("a read between") << ab << "R1 a b;A1;R1 b c;S"
                                    << "11"
                                    << R"({"S1":{"A1":"c","A2":"c","B1":"cc"},"S2":{"A1":"a"}})";
    QTest::newRow("a Value write between")
        << ab << "R1 a b;V1 A2 a;R1 a c;S"
        << "11"
        << R"({"S1":{"A1":"b","A2":"c","B1":"bb"},"S2":{"A1":"a"}})";
    QTest::newRow("a save between") << ab << "R1 a b;S;R1 b c;S"
                                    << "11"
                                    << R"({"S1":{"A1":"c","A2":"c","B1":"cc"},"S2":{"A1":"a"}})";
    QTest::newRow("sheets in turn") << ab << "R1 a b;R2 a c;R1 b d;S"
                                    << "111"
                                    << R"({"S1":{"A1":"d","A2":"d","B1":"dd"},"S2":{"A1":"c"}})";
    QTest::newRow("a call that changes nothing")
        << ab << "R1 a b;R1 a z;R2 x y;S"
        << "100"
        << R"({"S1":{"A1":"b","A2":"b","B1":"bb"},"S2":{"A1":"a"}})";
    QTest::newRow("any case, and the Kelvin sign folding to k")
        << QString::fromUtf8(R"({"S1":{"A1":"ALPHA","A2":"x\u212Ay"},"S2":{"A1":"alpha"}})")
        << "R1 alpha omega;R1 k q;S"
        << "11"
        << R"({"S1":{"A1":"omega","A2":"xqy"},"S2":{"A1":"alpha"}})";
    QTest::newRow("unsaved calls are dropped") << ab << "R1 a b"
                                               << "1" << ab;
}

void ReplaceQueueTest::steps()
{
    QFETCH(QString, cells);
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(QString, expected);

    QVERIFY(m_dir.isValid());
    const QJsonObject given = QJsonDocument::fromJson(cells.toUtf8()).object();
    QJsonArray sheets;
    for (const QString &name : {QStringLiteral("S1"), QStringLiteral("S2")})
        sheets.append(QJsonObject{{"name", name}, {"cells", given.value(name)}});
    const QString file = m_dir.filePath(QStringLiteral("queue.xlsx"));
    QFile::remove(file);
    QString error;
    QVERIFY2(testsupport::makeWorkbook(file, QJsonObject{{"sheets", sheets}}, &error),
             qPrintable(error));

    QString got;
    const int live = jobs::onPoolThread([&] {
        Excel::Application app;
        app.setDisplayAlerts(false);
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        std::unique_ptr<Excel::Sheets> all(book->Sheets());
        for (const QString &step : steps.split(QLatin1Char(';'))) {
            const QStringList w = step.mid(3).split(QLatin1Char(' '));
            if (step == QLatin1String("S")) {
                book->Save();
                continue;
            }
            std::unique_ptr<Excel::Worksheet> ws(all->Item(step.mid(1, 1).toInt()));
            std::unique_ptr<Excel::Range> used(ws->UsedRange());
            if (step.startsWith(QLatin1Char('R')))
                got += used->Replace(w[0], w[1], 2, 1, false) ? QLatin1Char('1') : QLatin1Char('0');
            else if (step.startsWith(QLatin1Char('V')))
                std::unique_ptr<Excel::Range>(ws->Range(w[0]))->setValue(w[1]);
            else
                used->object()->dynamicCall("Address()");
        }
        app.Quit();
    });
    QCOMPARE(live, 0);
    QCOMPARE(got, results);

    const QJsonObject dump = testsupport::dumpWorkbook(file, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    const QJsonObject want = QJsonDocument::fromJson(expected.toUtf8()).object();
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        const QString name = s.toObject().value(QStringLiteral("name")).toString();
        QCOMPARE(s.toObject().value(QStringLiteral("cells")).toObject(),
                 want.value(name).toObject());
    }
}

QTEST_GUILESS_MAIN(ReplaceQueueTest)
#include "tst_replacequeue.moc"
