// Helpers for the package-library tests: small packages built from XML text,
// and comparisons of two packages entry by entry.
#pragma once

#include "xlsx/document_p.h"
#include "xlsx/zip_p.h"

#include <QFile>
#include <QMap>
#include <QPair>
#include <QString>
#include <QVector>

namespace pkgtest {

using Parts = QVector<QPair<QString, QByteArray>>;

// While it lives, sheets are held whole (`windows` false) or read as a large sheet is, a
// window of rows at a time, here each row a window of its own.
struct ReadMode
{
    explicit ReadMode(bool windows)
    {
        xlsx::DocumentData::holdBelow = windows ? 0 : kHoldBelow;
        xlsx::DocumentData::windowBytes = windows ? 1 : kWindowBytes;
    }
    ~ReadMode()
    {
        xlsx::DocumentData::holdBelow = kHoldBelow;
        xlsx::DocumentData::windowBytes = kWindowBytes;
    }
    static constexpr int kHoldBelow = 8 << 20;
    static constexpr int kWindowBytes = 512 << 10;
};

inline QByteArray xmlHead()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
}

// A workbook with one worksheet per given sheet XML (entries xl/worksheets/sheetN.xml);
// extra parts are added as given (and replace default ones of the same name).
inline Parts minimalParts(const QVector<QByteArray> &sheets, const QByteArray &sharedStrings = {})
{
    Parts parts;
    QByteArray ct = xmlHead() +
                    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" ContentType=\"application/"
                    "vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
                    "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    QByteArray wb = xmlHead() +
                    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                    "relationships\"><sheets>";
    QByteArray rels = xmlHead() + "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                                  "package/2006/relationships\">";
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        ct += "<Override PartName=\"/xl/worksheets/sheet" + n +
              ".xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        wb += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n +
                "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                "worksheet\" Target=\"worksheets/sheet" +
                n + ".xml\"/>";
    }
    if (!sharedStrings.isEmpty()) {
        ct += "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
        rels += "<Relationship Id=\"rIdS\" Type=\"http://schemas.openxmlformats.org/"
                "officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    }
    ct += "</Types>";
    wb += "</sheets></workbook>";
    rels += "</Relationships>";
    parts.append({QStringLiteral("[Content_Types].xml"), ct});
    parts.append({QStringLiteral("_rels/.rels"),
                  xmlHead() + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/"
                              "2006/relationships\"><Relationship Id=\"rId1\" "
                              "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                              "relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
                              "</Relationships>"});
    parts.append({QStringLiteral("xl/workbook.xml"), wb});
    parts.append({QStringLiteral("xl/_rels/workbook.xml.rels"), rels});
    for (int i = 0; i < sheets.size(); ++i)
        parts.append({QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1), sheets[i]});
    if (!sharedStrings.isEmpty())
        parts.append({QStringLiteral("xl/sharedStrings.xml"), sharedStrings});
    return parts;
}

// A worksheet part around the given sheetData content.
inline QByteArray sheetXml(const QByteArray &sheetData, const QByteArray &prefix = {},
                           const QByteArray &before = {}, const QByteArray &after = {})
{
    const QByteArray p = prefix.isEmpty() ? QByteArray() : prefix + ":";
    const QByteArray decl = prefix.isEmpty() ? QByteArray("xmlns") : "xmlns:" + prefix;
    return xmlHead() + "<" + p + "worksheet " + decl +
           "=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
           before + "<" + p + "sheetData>" + sheetData + "</" + p + "sheetData>" + after + "</" +
           p + "worksheet>";
}

// The bytes of a zip package of `parts`, in their order. Every part goes in even
// after the writer refused one (broken packages are built this way); *ok tells
// whether the writer took them all.
inline QByteArray zipBytes(const Parts &parts, bool *ok = nullptr)
{
    xlsx::ZipWriter w;
    QString err;
    bool good = w.begin(&err);
    for (const auto &p : parts)
        good = w.addData(p.first, p.second, QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 6, &err) &&
               good;
    QByteArray out;
    good = w.finish(&out, &err) && good;
    if (ok)
        *ok = good;
    return out;
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline bool writeZip(const QString &path, const Parts &parts)
{
    bool ok = false;
    const QByteArray bytes = zipBytes(parts, &ok);
    return ok && writeBytes(path, bytes);
}

inline bool writePackage(const QString &path, const QVector<QByteArray> &sheets,
                         const QByteArray &sharedStrings = {})
{
    return writeZip(path, minimalParts(sheets, sharedStrings));
}

// Entry name -> compressed bytes (as stored), read by our own zip reader.
inline QMap<QString, QByteArray> rawEntries(const QString &path)
{
    QMap<QString, QByteArray> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    xlsx::ZipArchive z;
    QString err;
    if (!z.load(f.readAll(), path, &err))
        return out;
    for (int i = 0; i < z.entries().size(); ++i)
        out.insert(z.entries()[i].name, QByteArray(z.rawData(i).constData(), z.rawData(i).size()));
    return out;
}

} // namespace pkgtest
