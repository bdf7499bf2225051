#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/rangeref_p.h"
#include "automation/sheetapp/sheetapp.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

using automation::CallResult;

namespace sheetapp {

// ---------------------------------------------------------------------------
// The open files of the process

namespace openfiles {
namespace {

struct OpenFiles
{
    QMutex mutex;
    QSet<QString> paths;
};

OpenFiles &openFiles()
{
    static OpenFiles files;
    return files;
}

} // namespace

bool acquire(const QString &canonicalPath)
{
    OpenFiles &f = openFiles();
    QMutexLocker lock(&f.mutex);
    if (f.paths.contains(canonicalPath))
        return false;
    f.paths.insert(canonicalPath);
    return true;
}

void release(const QString &canonicalPath)
{
    OpenFiles &f = openFiles();
    QMutexLocker lock(&f.mutex);
    f.paths.remove(canonicalPath);
}

bool isHeld(const QString &canonicalPath)
{
    OpenFiles &f = openFiles();
    QMutexLocker lock(&f.mutex);
    return f.paths.contains(canonicalPath);
}

} // namespace openfiles

// ---------------------------------------------------------------------------
// Shared state

BookState::~BookState()
{
    close();
}

void BookState::close()
{
    if (!doc)
        return;
    replaces.clear();
    doc.reset();
    openfiles::release(canonicalPath);
}

void AppState::closeAll()
{
    for (const BookPtr &b : books)
        b->close();
    books.clear();
    for (const LegacyBook &b : legacyBooks) {
        libreoffice::closeBook(b.book);
        openfiles::release(b.canonicalPath);
    }
    legacyBooks.clear();
}

xlsx::Document *BookObject::document(QString *error, bool applyQueued) const
{
    if (!m_book || !m_book->doc) {
        *error = QStringLiteral("the workbook has been closed (the application quit)");
        return nullptr;
    }
    if (applyQueued)
        m_book->replaces.flush(m_book->doc.get(), m_book->path);
    return m_book->doc.get();
}

CallResult unknownMember(const automation::Dispatch &object, const QByteArray &member)
{
    return CallResult::failure(QStringLiteral("%1 has no member \"%2\"")
                                   .arg(object.typeName(), QString::fromLatin1(member)));
}

CallResult wrongArgumentCount(const automation::Dispatch &object, const QByteArray &member,
                              int expected, int given)
{
    return CallResult::failure(QStringLiteral("%1.%2 takes %3 argument(s), %4 given")
                                   .arg(object.typeName(), QString::fromLatin1(member))
                                   .arg(expected)
                                   .arg(given));
}

bool unknownProperty(const automation::Dispatch &object, const QByteArray &name, QString *error)
{
    if (error)
        *error = QStringLiteral("%1 has no writable property \"%2\"")
                     .arg(object.typeName(), QString::fromLatin1(name));
    return false;
}

// ---------------------------------------------------------------------------
// Application

ApplicationObject::ApplicationObject() : m_state(std::make_shared<AppState>()) {}

ApplicationObject::~ApplicationObject()
{
    // Releasing the application closes what it still holds, unsaved.
    m_state->closeAll();
    m_state->quit = true;
}

CallResult ApplicationObject::invoke(const QByteArray &member, const QVariantList &args)
{
    if (m_state->quit)
        return CallResult::failure(QStringLiteral("the application has quit"));
    if (member == "Workbooks") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofObject(std::make_shared<WorkbooksObject>(m_state));
    }
    if (member == "Quit") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        m_state->closeAll();
        m_state->quit = true;
        return CallResult::ofValue(QVariant());
    }
    if (member == "DisplayAlerts" || member == "Visible") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofValue(member == "Visible" ? m_state->visible : m_state->displayAlerts);
    }
    return unknownMember(*this, member);
}

bool ApplicationObject::setProperty(const QByteArray &name, const QVariant &value, QString *error)
{
    if (name != "DisplayAlerts" && name != "Visible")
        return unknownProperty(*this, name, error);
    if (m_state->quit) {
        if (error)
            *error = QStringLiteral("the application has quit");
        return false;
    }
    if (!value.isValid() || !value.canConvert<bool>()) {
        if (error)
            *error = QStringLiteral("%1 takes a boolean").arg(QString::fromLatin1(name));
        return false;
    }
    (name == "Visible" ? m_state->visible : m_state->displayAlerts) = value.toBool();
    return true;
}

// ---------------------------------------------------------------------------
// Workbooks

CallResult WorkbooksObject::invoke(const QByteArray &member, const QVariantList &args)
{
    if (m_app->quit)
        return CallResult::failure(QStringLiteral("the application has quit"));
    if (member == "Open") {
        if (args.size() != 1)
            return wrongArgumentCount(*this, member, 1, args.size());
        return open(args.first());
    }
    if (member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofValue(m_app->books.size() + m_app->legacyBooks.size());
    }
    return unknownMember(*this, member);
}

bool WorkbooksObject::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return unknownProperty(*this, name, error);
}

CallResult WorkbooksObject::open(const QVariant &fileName)
{
    const QString path = fileName.toString();
    if (fileName.type() != QVariant::String || path.isEmpty())
        return CallResult::failure(QStringLiteral("Workbooks.Open needs a file name"));
    const QFileInfo info(path);
    if (!info.exists())
        return CallResult::failure(QStringLiteral("%1: no such file").arg(path));
    if (!info.isFile())
        return CallResult::failure(QStringLiteral("%1: not a regular file").arg(path));
    const QString canonical = info.canonicalFilePath();

    // A workbook this application already holds is handed out again.
    for (const BookPtr &b : m_app->books) {
        if (b->doc && b->canonicalPath == canonical)
            return CallResult::ofObject(std::make_shared<WorkbookObject>(b));
    }
    for (const AppState::LegacyBook &b : m_app->legacyBooks) {
        if (b.canonicalPath == canonical && libreoffice::isBookOpen(b.book))
            return CallResult::ofObject(libreoffice::workbookObject(b.book));
    }
    if (!openfiles::acquire(canonical))
        return CallResult::failure(
            QStringLiteral("%1: the workbook is open in another job").arg(path));

    // What the file is decides, not its name: legacy binary workbooks go to
    // LibreOffice; everything else is read as a package.
    switch (libreoffice::fileKind(canonical)) {
    case libreoffice::FileKind::Workbook:
        return openLegacy(info.absoluteFilePath(), canonical);
    case libreoffice::FileKind::EncryptedWorkbook:
        openfiles::release(canonical);
        return CallResult::failure(
            QStringLiteral("%1: an .xls workbook with a password to open is not supported")
                .arg(info.absoluteFilePath()));
    case libreoffice::FileKind::OtherCompound:
        openfiles::release(canonical);
        return CallResult::failure(
            QStringLiteral("%1: an OLE compound file that holds neither a readable .xls workbook "
                           "nor an .xlsx package (a workbook encrypted with a password, a damaged "
                           ".xls file, or another kind of document)")
                .arg(info.absoluteFilePath()));
    default:
        break;
    }

    auto book = std::make_shared<BookState>();
    book->path = info.absoluteFilePath();
    book->canonicalPath = canonical;
    book->doc = std::make_unique<xlsx::Document>();
    QString error;
    // The real file is opened (and later replaced) so that a link to it stays a link.
    if (!book->doc->open(canonical, &error)) {
        book->doc.reset();
        openfiles::release(canonical);
        return CallResult::failure(
            error.isEmpty() ? QStringLiteral("%1: cannot be opened").arg(path) : error);
    }
    // A damaged worksheet refuses the whole workbook now, before any job
    // relies on it.
    for (int i = 0; i < book->doc->sheetCount(); ++i) {
        if (book->doc->sheetInfo(i).kind == xlsx::SheetKind::Worksheet &&
            !book->doc->checkWorksheet(i, &error)) {
            book->doc.reset();
            openfiles::release(canonical);
            return CallResult::failure(error);
        }
    }
    m_app->books.append(book);
    return CallResult::ofObject(std::make_shared<WorkbookObject>(book));
}

CallResult WorkbooksObject::openLegacy(const QString &path, const QString &canonical)
{
    // One application lends its instance to a second workbook.
    const libreoffice::BookPtr sibling =
        m_app->legacyBooks.isEmpty() ? nullptr : m_app->legacyBooks.constLast().book;
    QString error;
    libreoffice::BookPtr book = libreoffice::openBook(canonical, path, sibling, &error);
    if (!book) {
        openfiles::release(canonical);
        return CallResult::failure(error);
    }
    m_app->legacyBooks.append({book, canonical});
    return CallResult::ofObject(libreoffice::workbookObject(book));
}

// ---------------------------------------------------------------------------
// Workbook

CallResult WorkbookObject::invoke(const QByteArray &member, const QVariantList &args)
{
    QString error;
    // Queued Replace calls change cell values only: they are applied before a save, not
    // before a look at the sheets.
    xlsx::Document *doc = document(&error, member == "Save");
    if (!doc)
        return CallResult::failure(error);
    if (!args.isEmpty())
        return wrongArgumentCount(*this, member, 0, args.size());
    if (member == "Path") {
        // The folder, without a trailing separator.
        return CallResult::ofValue(
            QDir::toNativeSeparators(QFileInfo(m_book->path).absolutePath()));
    }
    if (member == "Sheets")
        return CallResult::ofObject(std::make_shared<SheetsObject>(m_book));
    if (member == "ActiveSheet") {
        if (doc->sheetCount() < 1)
            return CallResult::failure(
                QStringLiteral("%1: the workbook has no sheet").arg(m_book->path));
        const int index = doc->activeSheetIndex();
        return CallResult::ofObject(
            std::make_shared<SheetObject>(m_book, index, doc->sheetInfo(index).kind));
    }
    if (member == "Save") {
        // Like the real member it returns nothing; a save that fails is a failed call. A
        // workbook with no change leaves its file as it is.
        if (doc->isModified() && !doc->save(&error))
            return CallResult::failure(error);
        return CallResult::ofValue(QVariant());
    }
    return unknownMember(*this, member);
}

bool WorkbookObject::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return unknownProperty(*this, name, error);
}

// ---------------------------------------------------------------------------
// Sheets

CallResult SheetsObject::invoke(const QByteArray &member, const QVariantList &args)
{
    QString error;
    xlsx::Document *doc = document(&error, false);
    if (!doc)
        return CallResult::failure(error);
    if (member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofValue(doc->sheetCount());
    }
    if (member == "Item") {
        if (args.size() != 1)
            return wrongArgumentCount(*this, member, 1, args.size());
        const QVariant &v = args.first();
        int index = -1;
        bool ok = false;
        if (v.type() == QVariant::String) {
            // A name, as the collection also accepts.
            index = doc->indexOfSheet(v.toString());
        } else if (v.isValid()) {
            const double number = v.toDouble(&ok);
            if (ok && number == static_cast<int>(number))
                index = static_cast<int>(number) - 1;
        }
        if (index < 0 || index >= doc->sheetCount())
            return CallResult::failure(
                QStringLiteral("Sheets.Item: no sheet %1 (the workbook has %2)")
                    .arg(v.toString())
                    .arg(doc->sheetCount()));
        return CallResult::ofObject(
            std::make_shared<SheetObject>(m_book, index, doc->sheetInfo(index).kind));
    }
    return unknownMember(*this, member);
}

bool SheetsObject::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return unknownProperty(*this, name, error);
}

// ---------------------------------------------------------------------------
// Worksheet / Chart

CallResult SheetObject::invoke(const QByteArray &member, const QVariantList &args)
{
    QString error;
    // Names, the used range and range objects stay as they are under queued Replace calls,
    // which change values only (a cell they empty keeps its place).
    xlsx::Document *doc = document(&error, false);
    if (!doc)
        return CallResult::failure(error);
    if (member == "Name") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofValue(doc->sheetInfo(m_index).name);
    }
    if (member != "UsedRange" && member != "Range")
        return unknownMember(*this, member);
    const int expected = member == "Range" ? 1 : 0;
    if (args.size() != expected)
        return wrongArgumentCount(*this, member, expected, args.size());
    if (m_kind != xlsx::SheetKind::Worksheet)
        return CallResult::failure(QStringLiteral("%1: sheet \"%2\" is a %3 sheet, it has no cells")
                                       .arg(m_book->path, doc->sheetInfo(m_index).name,
                                            m_kind == xlsx::SheetKind::Chartsheet
                                                ? QStringLiteral("chart")
                                                : QStringLiteral("dialog")));
    xlsx::Worksheet *ws = doc->worksheet(m_index, &error);
    if (!ws)
        return CallResult::failure(error);
    if (member == "UsedRange")
        return CallResult::ofObject(
            std::make_shared<RangeObject>(m_book, m_index, ws->usedRange()));
    const QVariant &ref = args.first();
    const xlsx::CellRange range =
        ref.type() == QVariant::String ? parseRangeReference(ref.toString()) : xlsx::CellRange();
    if (!range.isValid())
        return CallResult::failure(
            QStringLiteral("Range: \"%1\" is not a cell or a rectangular range")
                .arg(ref.toString()));
    return CallResult::ofObject(std::make_shared<RangeObject>(m_book, m_index, range));
}

bool SheetObject::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return unknownProperty(*this, name, error);
}

// ---------------------------------------------------------------------------

automation::DispatchPtr createApplication()
{
    return std::make_shared<ApplicationObject>();
}

} // namespace sheetapp
