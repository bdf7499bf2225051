#include "automation/sheetapp/rangeargs_p.h"

#include <QMetaType>

namespace sheetapp {

bool checkReplaceArgumentCount(const QVariantList &args, QString *error)
{
    if (args.size() >= 2 && args.size() <= 5)
        return true;
    *error = QStringLiteral("Range.Replace takes 2 to 5 arguments, %1 given").arg(args.size());
    return false;
}

bool parseReplaceArguments(const QVariantList &args, ReplaceArguments *out, QString *error)
{
    auto optionalInt = [&args](int i, int fallback, bool *ok) {
        *ok = true;
        if (i >= args.size() || !args[i].isValid())
            return fallback;
        return args[i].toInt(ok);
    };
    const QVariant whatArg = args.value(0);
    const QVariant replacementArg = args.value(1);
    if (!whatArg.isValid() || !whatArg.canConvert<QString>() || !replacementArg.isValid() ||
        !replacementArg.canConvert<QString>()) {
        *error = QStringLiteral("Range.Replace: What and Replacement must be texts");
        return false;
    }
    bool ok = false;
    const int lookAt = optionalInt(2, 2, &ok);
    if (!ok || (lookAt != 1 && lookAt != 2)) {
        *error = QStringLiteral("Range.Replace: LookAt must be 1 (whole) or 2 (part)");
        return false;
    }
    const int searchOrder = optionalInt(3, 1, &ok);
    if (!ok || (searchOrder != 1 && searchOrder != 2)) {
        *error = QStringLiteral("Range.Replace: SearchOrder must be 1 (rows) or 2 (columns)");
        return false;
    }
    out->what = whatArg.toString();
    out->replacement = replacementArg.toString();
    out->lookAt = lookAt;
    out->searchOrder = searchOrder;
    out->matchCase = args.size() > 4 && args[4].isValid() && args[4].toBool();
    return true;
}

bool valueWriteText(const QVariant &value, const xlsx::CellRange &range, QString *text,
                    QString *error)
{
    const int type = value.userType();
    if (!value.isValid() || type == QMetaType::QVariantList || type == QMetaType::QVariantMap ||
        type == QMetaType::QStringList || !value.canConvert<QString>()) {
        *error = QStringLiteral("Range.Value: the value is not a text");
        return false;
    }
    *text = value.toString();
    if (text->size() > kMaxCellText) {
        *error =
            QStringLiteral("Range.Value: the text is longer than %1 characters").arg(kMaxCellText);
        return false;
    }
    const long long cells = static_cast<long long>(range.rowCount()) * range.columnCount();
    if (cells > kMaxValueCells) {
        *error = QStringLiteral("Range.Value: %1 cells are more than one write fills").arg(cells);
        return false;
    }
    return true;
}

QString rangeAddress(const xlsx::CellRange &range)
{
    auto corner = [](int row, int column) {
        return QStringLiteral("$%1$%2").arg(xlsx::columnName(column)).arg(row);
    };
    QString address = corner(range.firstRow, range.firstColumn);
    if (range.rowCount() > 1 || range.columnCount() > 1)
        address += QLatin1Char(':') + corner(range.lastRow, range.lastColumn);
    return address;
}

} // namespace sheetapp
