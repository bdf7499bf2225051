// Saving: the package is built, written into a temporary beside the target, read back and
// only then put in place; the document then works on what was saved.
#include "xlsx/document_p.h"
#include "xlsx/savefile.h"

#include <QBuffer>
#include <QFile>
#include <QSet>

namespace xlsx {

bool DocumentData::readBack(const QByteArray &bytes, const QStringList &written, QString *error)
{
    if (!loadPackage(bytes, path, error))
        return false;
    QSet<QString> sheetEntries;
    for (size_t i = 0; i < workbook.sheets.size(); ++i) {
        const SheetEntry &e = workbook.sheets[i];
        if (e.info.kind != SheetKind::Worksheet || e.entryName.isEmpty() ||
            !written.contains(e.entryName))
            continue;
        sheetEntries.insert(e.entryName);
        // Checked without keeping its cells: the saved sheet's records would double what
        // the job holds; they are read again if the sheet is used after the save.
        if (!loadWorksheet(int(i), error, LoadMode::Check))
            return false;
    }
    for (const QString &entry : written) {
        if (sheetEntries.contains(entry))
            continue;
        QByteArray xml;
        if (!readPart(entry, &xml, error))
            return false;
        XmlScanner s(xml.constData(), xml.size());
        XmlToken t;
        while (s.next(&t)) {
        }
        if (s.failed()) {
            if (error)
                *error = QStringLiteral("%1: part /%2 as written: malformed XML (%3)")
                             .arg(label(), entry, s.error());
            return false;
        }
    }
    return true;
}

bool Document::save(QString *error)
{
    return saveAs(d->path, error);
}

bool Document::saveAs(const QString &path, QString *error)
{
    if (!d->open) {
        if (error)
            *error = QStringLiteral("%1: no workbook to save").arg(path);
        return false;
    }
    if (d->workbook.sheets.empty()) {
        if (error)
            *error = QStringLiteral("%1: a workbook needs at least one sheet").arg(path);
        return false;
    }
    SaveFile f(path);
    if (!f.open(error))
        return false;
    if (path == d->path)
        f.setReadVersion(d->readVersion);
    // The package is built in memory (compressed, it is the smaller part of what a job holds)
    // and written in one piece: the zip writer's many small writes and seeks stay off the disk.
    // With a rewritten large sheet it goes to the file as it is built, not held twice.
    QStringList rewritten;
    // Windowed sheets are rewritten first: their edits tell what the workbook part says.
    if (!d->rewriteWindowed(error)) {
        f.cancel();
        return false;
    }
    bool direct = false;
    for (const SheetEntry &e : d->workbook.sheets)
        direct = direct || (e.ws && e.ws->d->editsInWindows());
    QBuffer package;
    package.open(QIODevice::ReadWrite);
    const bool built = d->buildPackage(direct ? f.device() : &package, &rewritten, error);
    d->edits.windowedParts.clear();
    if (!built) {
        f.cancel();
        return false;
    }
    if (direct && !f.writeError().isEmpty()) {
        if (error)
            *error = QStringLiteral("%1: cannot save: %2").arg(path, f.writeError());
        f.cancel();
        return false;
    }
    if (!direct && f.device()->write(package.data()) != package.data().size()) {
        if (error)
            *error = QStringLiteral("%1: cannot save: %2")
                         .arg(path, f.writeError().isEmpty() ? QStringLiteral("write failed")
                                                             : f.writeError());
        f.cancel();
        return false;
    }
    package.close();
    package.setData(QByteArray());
    // While the saved file is checked, the sources of the rewritten worksheets are let go (the
    // check holds the new ones); should the save fail, they are read again from the package,
    // which is still the old one.
    std::vector<WorksheetData *> letGo;
    for (SheetEntry &e : d->workbook.sheets) {
        WorksheetData *wd = e.ws ? e.ws->d.get() : nullptr;
        if (wd && !e.isNew && wd->modified && !wd->stale && !wd->xml.isNull()) {
            wd->xml = QByteArray();
            letGo.push_back(wd);
        }
    }
    auto takeBack = [&]() {
        for (WorksheetData *wd : letGo) {
            QString why;
            if (!d->readPart(wd->entryName, &wd->xml, &why)) {
                qWarning("%s", qPrintable(why));
                wd->release();
            }
        }
    };
    // Nothing is committed that this library cannot read back: the package, every part it
    // rewrote, and the rewritten worksheets, parsed as on opening.
    DocumentData check;
    check.path = path;
    QString err;
    {
        QFile written(f.tempPath());
        QByteArray bytes;
        if (!written.open(QIODevice::ReadOnly))
            err = QStringLiteral("%1: cannot read the written file back (%2)")
                      .arg(path, written.errorString());
        else if ((bytes = written.readAll()).isEmpty())
            err = QStringLiteral("%1: the written file reads back empty").arg(path);
        if (err.isEmpty())
            check.readBack(bytes, rewritten, &err);
    }
    if (!err.isEmpty()) {
        f.cancel();
        takeBack();
        if (error)
            *error = QStringLiteral("%1 (the file was left as it was)").arg(err);
        return false;
    }
    if (!f.commit(error)) {
        takeBack();
        return false;
    }
    d->adoptSaved(std::move(check));
    d->readVersion = f.savedVersion();
    return true;
}

void DocumentData::adoptSaved(DocumentData &&saved)
{
    // The saved package becomes the document's source; what was read of its parts is read
    // again on first use, and no edit is left to save.
    std::vector<SheetEntry> old = std::move(workbook.sheets);
    path = saved.path;
    package = std::move(saved.package);
    workbook = std::move(saved.workbook);
    sst = SharedStringsState();
    // The cell styles added were saved where they were added: they are still there.
    QHash<int, int> quoted = std::move(styles.quotedStyles);
    styles = StylesState();
    styles.quotedStyles = std::move(quoted);
    edits = EditsState();
    // Loaded worksheets stay valid; rewritten ones take the state read back.
    for (size_t i = 0; i < old.size() && i < workbook.sheets.size(); ++i) {
        SheetEntry &now = workbook.sheets[i];
        if (!old[i].ws) {
            now.ws.reset();
            continue;
        }
        WorksheetData *wd = old[i].ws->d.get();
        if (now.ws) {
            // Read back just now (and read again on first use).
            *wd = std::move(*now.ws->d);
        } else if (wd->xml.isNull()) {
            wd->release();
        }
        wd->entryName = now.entryName;
        wd->modified = false;
        now.ws = std::move(old[i].ws);
    }
    for (SheetEntry &e : workbook.sheets)
        if (e.ws)
            e.ws->d->doc = this;
}

} // namespace xlsx
