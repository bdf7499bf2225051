// What the corpus tests replace in a real-world workbook, picked from its openpyxl dump
// (xlsx_tool.py dump) and its protection (sheetapp_tool.py protection).
#pragma once

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "testsupport.h"

namespace corpuswords {

// Rows x columns of the largest sheet, from the manifest's "max=NrxMc".
inline qint64 manifestArea(const QString &name)
{
    QFile f(testsupport::corpusDir() + QStringLiteral("/MANIFEST.tsv"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression re(QStringLiteral("max=(\\d+)r x (\\d+)c"));
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (!text.startsWith(name + QLatin1Char('\t')))
            continue;
        const QRegularExpressionMatch m = re.match(text);
        return m.hasMatch() ? m.captured(1).toLongLong() * m.captured(2).toLongLong() : 0;
    }
    return 0;
}

// Whether Replace may change the cell: not a locked cell of a protected sheet.
inline bool changeable(const QJsonObject &protection, const QString &sheet, const QString &ref)
{
    const QJsonObject p = protection.value(sheet).toObject();
    if (!p.value(QStringLiteral("protected")).toBool())
        return true;
    return p.value(QStringLiteral("unlocked")).toArray().contains(QJsonValue(ref));
}

inline bool isFormula(const QJsonObject &types, const QString &ref)
{
    return types.value(ref).toString() == QLatin1String("f");
}

// A word of a string cell Replace may change that no sheet name contains:
// the first run of at least four ASCII letters, else the first two letters of
// any script; words no formula contains are preferred.
inline QString pickWord(const QJsonObject &dump, const QJsonObject &protection)
{
    QStringList strings;
    QString names;
    QString formulas;
    for (const QJsonValue &sv : dump.value(QStringLiteral("sheets")).toArray()) {
        const QJsonObject sheet = sv.toObject();
        const QString name = sheet.value(QStringLiteral("name")).toString();
        names += name + QLatin1Char('\n');
        const QJsonObject cells = sheet.value(QStringLiteral("cells")).toObject();
        const QJsonObject types = sheet.value(QStringLiteral("types")).toObject();
        for (auto it = cells.begin(); it != cells.end(); ++it) {
            const QString type = types.value(it.key()).toString();
            if (type == QLatin1String("s") && changeable(protection, name, it.key()))
                strings << it.value().toString();
            else if (isFormula(types, it.key()))
                formulas += it.value().toString() + QLatin1Char('\n');
        }
    }
    static const QRegularExpression ascii(QStringLiteral("[A-Za-z]{4,}"));
    static const QRegularExpression letters(QStringLiteral("\\p{L}{2,}"));
    for (bool inFormulas : {false, true}) {
        for (const QRegularExpression *re : {&ascii, &letters}) {
            for (const QString &s : strings) {
                auto it = re->globalMatch(s);
                while (it.hasNext()) {
                    const QString word = it.next().captured(0).left(re == &ascii ? 12 : 2);
                    if (!names.contains(word) && (inFormulas || !formulas.contains(word)))
                        return word;
                }
            }
        }
    }
    return QString();
}

// The whole text of the string cell Replace may change that most cells hold (the first of
// those met), else that of the integer cell most cells hold, written for a Replace that matches
// it as it is (`*` `?` `~` escaped); empty when there is none.
inline QString pickWholeCell(const QJsonObject &dump, const QJsonObject &protection)
{
    for (const QString &kind : {QStringLiteral("s"), QStringLiteral("n")}) {
        QHash<QString, int> count;
        QString best;
        for (const QJsonValue &sv : dump.value(QStringLiteral("sheets")).toArray()) {
            const QJsonObject sheet = sv.toObject();
            const QString name = sheet.value(QStringLiteral("name")).toString();
            const QJsonObject cells = sheet.value(QStringLiteral("cells")).toObject();
            const QJsonObject types = sheet.value(QStringLiteral("types")).toObject();
            for (auto it = cells.begin(); it != cells.end(); ++it) {
                const double number = it.value().toDouble(0.5);
                const QString text = kind == QLatin1String("s") ? it.value().toString()
                                     : number == qint64(number) && qAbs(number) < 1e15
                                         ? QString::number(qint64(number))
                                         : QString();
                if (types.value(it.key()).toString() != kind || text.isEmpty() ||
                    !changeable(protection, name, it.key()))
                    continue;
                if (++count[text] > count.value(best))
                    best = text;
            }
        }
        static const QRegularExpression wild(QStringLiteral("([*?~])"));
        if (!best.isEmpty())
            return best.replace(wild, QStringLiteral("~\\1"));
    }
    return QString();
}

} // namespace corpuswords
