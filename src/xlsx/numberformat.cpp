// Number formats of cell styles (read with the rest of the styles part) and the
// workbook's date system; never written.
#include "xlsx/document_p.h"

#include <QXmlStreamReader>

namespace xlsx {

NumberFormat Document::numberFormat(int styleIndex) const
{
    d->loadStyles();
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
