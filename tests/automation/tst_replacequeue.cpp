// Range.Replace calls held back and applied together: whatever comes between
// them (a read, a Value write, a save, another sheet), the workbook ends as
// one walk per call leaves it, and each call answers what it changed, also
// where a shared string is given its new text once for every cell. Written
// by xlsxwriter (shared strings, as the application writes them) unless a row
// asks for openpyxl (inline strings); read back with openpyxl.
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "jobs.h"
#include "testsupport.h"
#include "xlsx/document_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

class ReplaceQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { excelapp::registerApplication(); }
    void steps_data();
    void steps();
    // The same, with every sheet only checked on opening (as large ones are), its cells read
    // again only when a call needs them.
    void stepsUnheld_data() { steps_data(); }
    void stepsUnheld();

private:
    QTemporaryDir m_dir;
};

void ReplaceQueueTest::steps_data()
{
    // Steps, separated by ";": "R<sheet> what with" replaces in the used range,
    // "r<sheet> A1:B2 what with" in a range, "V<sheet> ref text" writes a cell,
    // "A<sheet>" reads the used range's address, "S" saves; "\s" stands for a
    // space and "\n" for a line break. Two sheets "S1" and "S2", filled from
    // `cells` (cell values as xlsx_tool.py takes them).
    QTest::addColumn<QString>("cells"); // JSON: {"S1": {...}, "S2": {...}[, "writer": w]
                                        // [, "protected": ["S2"]]}
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("results");  // Replace results in order, "1"/"0"
    QTest::addColumn<QString>("expected"); // JSON, as cells [, "kinds": {sheet: {ref: t}}]

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
    QTest::newRow("inline strings")
        << R"({"writer":"openpyxl","S1":{"A1":"a","A2":"b","B1":"ab"},"S2":{"A1":"a"}})"
        << "R1 a b;V1 A2 a;R1 a c;R1 b d;S"
        << "111"
        << R"({"S1":{"A1":"d","A2":"c","B1":"dd"},"S2":{"A1":"a"}})";

    // One string, several cells: what each cell comes out as decides, not the string.
    const QString twoSheets =
        R"({"S1":{"A1":"foo","A2":"foo bar"},"S2":{"A1":"foo","B2":"foo bar"}})";
    QTest::newRow("a string on two sheets, the same calls on both")
        << twoSheets << "R1 foo baz;R2 foo baz;S"
        << "11"
        << R"({"S1":{"A1":"baz","A2":"baz bar"},"S2":{"A1":"baz","B2":"baz bar"},
              "kinds":{"S1":{"A1":"s","A2":"s"},"S2":{"A1":"s","B2":"s"}}})";
    QTest::newRow("a string on two sheets, replaced on one")
        << twoSheets << "R1 foo baz;S"
        << "1"
        << R"({"S1":{"A1":"baz","A2":"baz bar"},"S2":{"A1":"foo","B2":"foo bar"},
              "kinds":{"S2":{"A1":"s","B2":"s"}}})";
    QTest::newRow("a string on two sheets, other calls on each")
        << twoSheets << "R1 foo baz;R2 foo qux;S"
        << "11"
        << R"({"S1":{"A1":"baz","A2":"baz bar"},"S2":{"A1":"qux","B2":"qux bar"}})";
    // A string cell stays text whatever its number format; only an empty result changes its
    // type, each cell on its own.
    QTest::newRow("a General and a Text cell")
        << R"({"S1":{"A1":"x1","A2":{"text":"x1","format":"@"},"A3":"x1"},"S2":{}})"
        << "R1 x ;S"
        << "1"
        << R"({"S1":{"A1":"1","A2":"1","A3":"1"}})";
    QTest::newRow("a string emptied everywhere")
        << R"({"S1":{"A1":"xx","A2":"xx","B1":"xxa"},"S2":{"A1":"xx"}})"
        << "R1 x ;R2 x ;R1 a b;S"
        << "111"
        << R"({"S1":{"B1":"b"},"S2":{}})";
    QTest::newRow("a cell outside the range")
        << R"({"S1":{"A1":"foo","A2":"foo","B1":"foo"},"S2":{}})"
        << "r1 A1:A2 foo bar;S"
        << "1"
        << R"({"S1":{"A1":"bar","A2":"bar","B1":"foo"}})";
    QTest::newRow("a cell inside one call's range only")
        << R"({"S1":{"A1":"foo","A2":"foo","A3":"foo!","B1":"foo","B2":"bar"},"S2":{}})"
        << "r1 A1:A3 foo bar;R1 bar baz;S"
        << "11"
        << R"({"S1":{"A1":"baz","A2":"baz","A3":"baz!","B1":"foo","B2":"baz"}})";
    QTest::newRow("rich text, and a plain string of the same text")
        << R"({"S1":{"A1":{"rich":["ab","cd"]},"A2":{"rich":["ab","cd"]},"B1":"abcd"},
              "S2":{"A1":{"rich":["ab","cd"]}}})"
        << "R1 bc X;S"
        << "1"
        << R"({"S1":{"A1":"aXd","A2":"aXd","B1":"aXd"},"S2":{"A1":"abcd"}})";
    QTest::newRow("a Value write of the old text, then a call")
        << R"({"S1":{"A1":"foo","A2":"foo","A3":"foo"},"S2":{}})"
        << "R1 foo bar;V1 A2 foo;R1 foo baz;S"
        << "11"
        << R"({"S1":{"A1":"bar","A2":"baz","A3":"bar"}})";
    QTest::newRow("text that XML escapes")
        << R"({"S1":{"A1":" <a & b>","A2":" <a & b>","B1":"x\ny","B2":"x\ny"},"S2":{}})"
        << R"(R1 & &&;R1 > \s;R1 y \n;R1 x <&>\s;S)"
        << "1111"
        << R"({"S1":{"A1":" <a && b ","A2":" <a && b ","B1":"<&> \n\n","B2":"<&> \n\n"}})";
    QTest::newRow("a protected sheet's locked and unlocked cells")
        << R"({"protected":["S2"],"S1":{"A1":"foo"},
              "S2":{"A1":"foo","B1":"foo x","B2":"foo x","A2":{"text":"foo","locked":false},
                    "A3":{"text":"qfoo","locked":false},"A4":{"text":"qfoo","locked":false}}})"
        << "R1 foo bar;R2 foo bar;S"
        << "11"
        << R"({"S1":{"A1":"bar"},"S2":{"A1":"foo","A2":"bar","A3":"qbar","A4":"qbar",
                     "B1":"foo x","B2":"foo x"}})";
}

void ReplaceQueueTest::stepsUnheld()
{
    struct Unheld
    {
        const int held = xlsx::DocumentData::holdBelow;
        Unheld() { xlsx::DocumentData::holdBelow = 0; }
        ~Unheld() { xlsx::DocumentData::holdBelow = held; }
    } unheld;
    steps();
}

void ReplaceQueueTest::steps()
{
    QFETCH(QString, cells);
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(QString, expected);

    QVERIFY(m_dir.isValid());
    const QJsonObject given = QJsonDocument::fromJson(cells.toUtf8()).object();
    QVERIFY(!given.isEmpty());
    const QJsonArray locked = given.value(QStringLiteral("protected")).toArray();
    QJsonArray sheets;
    for (const QString &name : {QStringLiteral("S1"), QStringLiteral("S2")})
        sheets.append(QJsonObject{
            {"name", name}, {"cells", given.value(name)}, {"protected", locked.contains(name)}});
    const QString file = m_dir.filePath(QStringLiteral("queue.xlsx"));
    QFile::remove(file);
    QString error;
    const QJsonObject spec{
        {"sheets", sheets},
        {"writer", given.value(QStringLiteral("writer")).toString("xlsxwriter")}};
    QVERIFY2(testsupport::makeWorkbook(file, spec, &error), qPrintable(error));

    QString got;
    const int live = jobs::onPoolThread([&] {
        Excel::Application app;
        app.setDisplayAlerts(false);
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        std::unique_ptr<Excel::Sheets> all(book->Sheets());
        for (const QString &step : steps.split(QLatin1Char(';'))) {
            QStringList w = step.mid(3).split(QLatin1Char(' '));
            for (QString &s : w)
                s.replace(QLatin1String("\\s"), QLatin1String(" "))
                    .replace(QLatin1String("\\n"), QLatin1String("\n"));
            if (step == QLatin1String("S")) {
                book->Save();
                continue;
            }
            std::unique_ptr<Excel::Worksheet> ws(all->Item(step.mid(1, 1).toInt()));
            std::unique_ptr<Excel::Range> range(
                step.startsWith(QLatin1Char('r')) ? ws->Range(w.takeFirst()) : ws->UsedRange());
            if (step.startsWith(QLatin1Char('R')) || step.startsWith(QLatin1Char('r')))
                got +=
                    range->Replace(w[0], w[1], 2, 1, false) ? QLatin1Char('1') : QLatin1Char('0');
            else if (step.startsWith(QLatin1Char('V')))
                std::unique_ptr<Excel::Range>(ws->Range(w[0]))->setValue(w[1]);
            else
                range->object()->dynamicCall("Address()");
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
        const auto text = [](const QJsonValue &v) {
            return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
        };
        QCOMPARE(text(s.toObject().value(QStringLiteral("cells"))), text(want.value(name)));
    }
    // Where it matters, how the cells are stored: "s" a shared string.
    const QJsonObject kinds = want.value(QStringLiteral("kinds")).toObject();
    if (!kinds.isEmpty()) {
        QByteArray out;
        QVERIFY2(testsupport::runTool({QStringLiteral("kinds"), file}, {}, &out, &error),
                 qPrintable(error));
        const QJsonObject stored = QJsonDocument::fromJson(out).object();
        for (auto it = kinds.begin(); it != kinds.end(); ++it)
            for (const QString &ref : it.value().toObject().keys())
                QCOMPARE(stored.value(it.key()).toObject().value(ref).toString(),
                         it.value().toObject().value(ref).toString());
    }
}

QTEST_GUILESS_MAIN(ReplaceQueueTest)
#include "tst_replacequeue.moc"
