#include "engine/rep.h"

#include "automation/apartment.h"
#include "automation/excel.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

// The 1-based numbers of the sheets a choice names, in processing order.
// "默认页" gives an empty list: the caller makes one pass on the active sheet.
QList<int> sheetList(const QString &choice, int count)
{
    QList<int> list;
    if (choice == QStringLiteral("默认页"))
        return list;
    if (choice == QStringLiteral("首表")) {
        list << 1;
    } else if (choice == QStringLiteral("尾表")) {
        list << count;
    } else if (choice == QStringLiteral("所有表")) {
        for (int i = 1; i <= count; ++i)
            list << i;
    } else {
        const QStringList parts = choice.split(QLatin1Char(','), Qt::KeepEmptyParts);
        for (const QString &part : parts) {
            const int v = part.toInt(nullptr, 10);
            if (v >= 1 && v <= count)
                list << v;
        }
    }
    return list;
}

} // namespace

Rep::Rep(QString filePath, Param par, int index, QObject *parent)
    : QObject(parent), filePath(std::move(filePath)), par(std::move(par)), index(index)
{
}

Rep::~Rep() = default;

QString Rep::unreachableReason(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return QString();
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("%1: a symbolic link to %2, which does not exist")
            .arg(path, info.symLinkTarget());
    if (!info.exists())
        return QStringLiteral("%1: the file does not exist").arg(path);
    return QStringLiteral("%1: not a regular file").arg(path);
}

void Rep::run()
{
    if (!QFile::exists(filePath)) {
        qWarning().noquote() << unreachableReason(filePath);
        emit done(this, FAIL, index);
        return;
    }

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    // Wrappers of sub-objects are released before the application's wrapper,
    // which is released last (see the end of this function).
    auto app = std::make_unique<Excel::Application>();
    std::unique_ptr<Excel::Workbooks> workbooks;
    std::unique_ptr<Excel::Workbook> workbook;
    std::unique_ptr<Excel::Sheets> sheets;
    std::unique_ptr<Excel::Worksheet> sheet;
    std::unique_ptr<Excel::Range> usedRange;
    std::unique_ptr<Excel::Range> cell;

    // One of the two endings; returns the state to report.
    const STATE state = [&]() -> STATE {
        app->setDisplayAlerts(false);
        app->setVisible(false);

        workbooks.reset(app->Workbooks());
        if (!workbooks)
            return FAIL;
        workbook.reset(workbooks->Open(filePath));
        if (!workbook)
            return FAIL;
        qDebug() << "pWorkbook->Path():" << workbook->Path();

        sheets.reset(workbook->Sheets());
        if (!sheets)
            return FAIL;
        const int count = sheets->Count();
        if (count == 0)
            return FAIL;

        const bool activeOnly = par.sheetIndex == QStringLiteral("默认页");
        const QList<int> list = sheetList(par.sheetIndex, count);
        const int passes = activeOnly ? 1 : list.size();
        for (int pass = 0; pass < passes; ++pass) {
            usedRange.reset();
            sheet.reset(activeOnly ? workbook->ActiveSheet() : sheets->Item(list.at(pass)));
            if (!sheet)
                return FAIL;
            usedRange.reset(sheet->UsedRange());
            if (!usedRange)
                return FAIL;
            for (const KeyPair &pair : qAsConst(par.keys)) {
                if (par.isKeyMode) {
                    usedRange->Replace(pair.first, pair.second, par.lookAt, par.searchOrder,
                                       par.matchCase);
                    continue;
                }
                cell.reset(sheet->Range(pair.first));
                if (!cell)
                    return FAIL;
                // A refused write would leave the file short of a value the
                // user asked for: end without saving.
                if (!cell->setValue(pair.second))
                    return FAIL;
                cell.reset();
            }
        }
        // A save that did not write the file is not a success.
        return workbook->Save() ? SUCCESS : FAIL;
    }();

    app->Quit();
    cell.reset();
    usedRange.reset();
    sheet.reset();
    sheets.reset();
    workbook.reset();
    workbooks.reset();
    app.reset();
    CoUninitialize();
    emit done(this, state, index);
}
