// The styles part (read, never rewritten): the protection and the number format of each
// cell style, and the workbook's date system.
#include "xlsx/document_p.h"

#include <QXmlStreamReader>

namespace xlsx {

void DocumentData::loadStyles() const
{
    if (styles.loaded)
        return;
    styles.loaded = true;
    QByteArray xml;
    if (workbook.stylesEntry.isEmpty() || package.zip.find(workbook.stylesEntry) < 0 ||
        !readPart(workbook.stylesEntry, &xml, nullptr))
        return;
    int inCellXfs = 0;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        const auto tok = r.readNext();
        if (tok == QXmlStreamReader::DTD)
            break;
        if (tok == QXmlStreamReader::StartElement) {
            const auto a = r.attributes();
            if (r.name() == QLatin1String("numFmt")) {
                bool ok = false;
                const int id = a.value(QLatin1String("numFmtId")).toInt(&ok);
                if (ok)
                    styles.numFmtCodes.insert(
                        id, decodeOfficeEscapes(a.value(QLatin1String("formatCode")).toString()));
            } else if (r.name() == QLatin1String("cellXfs")) {
                inCellXfs = 1;
            } else if (inCellXfs && r.name() == QLatin1String("xf")) {
                styles.lockedXf.append(true);
                styles.xfNumFmtIds.append(a.value(QLatin1String("numFmtId")).toInt());
            } else if (inCellXfs && r.name() == QLatin1String("protection") &&
                       !styles.lockedXf.isEmpty()) {
                const auto v = a.value(QLatin1String("locked"));
                if (v == QLatin1String("0") || v == QLatin1String("false"))
                    styles.lockedXf.last() = false;
            }
        } else if (tok == QXmlStreamReader::EndElement && r.name() == QLatin1String("cellXfs")) {
            inCellXfs = 0;
        }
    }
}

bool Document::isStyleLocked(int styleIndex) const
{
    d->loadStyles();
    if (styleIndex < 0 || styleIndex >= d->styles.lockedXf.size())
        return true;
    return d->styles.lockedXf[styleIndex];
}

NumberFormat Document::numberFormat(int styleIndex) const
{
    d->loadStyles();
    NumberFormat f;
    if (styleIndex < 0 || styleIndex >= d->styles.xfNumFmtIds.size())
        return f;
    f.id = d->styles.xfNumFmtIds[styleIndex];
    f.code = d->styles.numFmtCodes.value(f.id);
    return f;
}

bool Document::isDate1904() const
{
    if (d->styles.date1904 < 0) {
        d->styles.date1904 = 0;
        QXmlStreamReader r(d->workbook.xml);
        while (!r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::DTD)
                break;
            if (tok != QXmlStreamReader::StartElement)
                continue;
            if (r.name() == QLatin1String("workbookPr")) {
                const auto v = r.attributes().value(QLatin1String("date1904"));
                d->styles.date1904 =
                    (v == QLatin1String("1") || v == QLatin1String("true")) ? 1 : 0;
                break;
            }
            if (r.name() == QLatin1String("sheets"))
                break; // workbookPr comes before the sheet list
        }
    }
    return d->styles.date1904 == 1;
}

} // namespace xlsx
