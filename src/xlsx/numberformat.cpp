// Number formats of cell styles and the workbook's date system: read from the
// styles part and the workbook part, never written.
#include "xlsx/document_p.h"

#include <QXmlStreamReader>

namespace xlsx {
namespace {

void readNumberFormats(const QByteArray &xml, QVector<int> *xfIds, QHash<int, QString> *codes)
{
    bool inCellXfs = false;
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
                    codes->insert(
                        id, decodeOfficeEscapes(a.value(QLatin1String("formatCode")).toString()));
            } else if (r.name() == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && r.name() == QLatin1String("xf")) {
                xfIds->append(a.value(QLatin1String("numFmtId")).toInt());
            }
        } else if (tok == QXmlStreamReader::EndElement && r.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
}

} // namespace

NumberFormat Document::numberFormat(int styleIndex) const
{
    if (!d->numFmtsLoaded) {
        d->numFmtsLoaded = true;
        QByteArray xml;
        if (!d->stylesEntry.isEmpty() && d->zip.find(d->stylesEntry) >= 0 &&
            d->zip.read(d->stylesEntry, &xml, nullptr))
            readNumberFormats(xml, &d->xfNumFmtIds, &d->numFmtCodes);
    }
    NumberFormat f;
    if (styleIndex < 0 || styleIndex >= d->xfNumFmtIds.size())
        return f;
    f.id = d->xfNumFmtIds[styleIndex];
    f.code = d->numFmtCodes.value(f.id);
    return f;
}

bool Document::isDate1904() const
{
    if (d->date1904 < 0) {
        d->date1904 = 0;
        QXmlStreamReader r(d->workbookXml);
        while (!r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::DTD)
                break;
            if (tok != QXmlStreamReader::StartElement)
                continue;
            if (r.name() == QLatin1String("workbookPr")) {
                const auto v = r.attributes().value(QLatin1String("date1904"));
                d->date1904 = (v == QLatin1String("1") || v == QLatin1String("true")) ? 1 : 0;
                break;
            }
            if (r.name() == QLatin1String("sheets"))
                break; // workbookPr comes before the sheet list
        }
    }
    return d->date1904 == 1;
}

} // namespace xlsx
