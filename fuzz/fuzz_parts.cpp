// libFuzzer target: the XML of a worksheet, its shared strings and its workbook part
// (separated by two NUL bytes; the first byte picks the job's choices), packed into a
// sound zip so that mutations reach the XML readers and the editor rather than the CRCs.
// A fourth part, when there is one, is read as the workbook stream of an .xls file by the
// reader of its sheet records.
#include "fuzzjob.h"

#include "automation/sheetapp/biff.h"

#include "xlsx/zip_p.h"

#include <cstddef>
#include <cstdint>

namespace {

const char kContentTypes[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
    "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
    "Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override "
    "PartName=\"/xl/workbook.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
    "PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/><Override "
    "PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/></Types>";
const char kRootRels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
    "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
    "Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
const char kWorkbookRels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
    "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
    "Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
    "Target=\"sharedStrings.xml\"/></Relationships>";
const char kWorkbook[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook "
    "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
    "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzjob::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 1024 * 1024)
        return -1;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    QList<QByteArray> joined;
    const QByteArray separator("\0\0", 2);
    for (int from = 0;;) {
        // The workbook stream, full of NUL bytes, is the rest after the third separator.
        const int at = joined.size() < 3 ? input.indexOf(separator, from) : -1;
        joined.append(input.mid(from, at < 0 ? -1 : at - from));
        if (at < 0)
            break;
        from = at + 2;
    }
    if (joined.size() > 3)
        sheetapp::biff::sheetsOf(joined.value(3));
    const QByteArray sheet = joined.value(0);
    const QByteArray strings = joined.value(1);
    const QByteArray workbook = joined.size() > 2 ? joined.value(2) : QByteArray(kWorkbook);
    xlsx::ZipWriter w;
    QString err;
    const QDateTime when(QDate(2024, 1, 1), QTime(0, 0));
    w.begin(&err);
    w.addData(QStringLiteral("[Content_Types].xml"), kContentTypes, when, 1, &err);
    w.addData(QStringLiteral("_rels/.rels"), kRootRels, when, 1, &err);
    w.addData(QStringLiteral("xl/workbook.xml"), workbook, when, 1, &err);
    w.addData(QStringLiteral("xl/_rels/workbook.xml.rels"), kWorkbookRels, when, 1, &err);
    w.addData(QStringLiteral("xl/worksheets/sheet1.xml"), sheet, when, 1, &err);
    w.addData(QStringLiteral("xl/sharedStrings.xml"), strings, when, 1, &err);
    QByteArray zip;
    if (!w.finish(&zip, &err))
        return 0;
    fuzzjob::run(zip, fuzzjob::choicesOf(data[0]));
    return 0;
}
