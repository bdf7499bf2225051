#include "automation/sheetapp/filekind.h"
#include "automation/sheetapp/objects_p.h"
#include "automation/sheetapp/sheetapp.h"

#include <QFileInfo>
#include <mutex>
#include <QSet>

using automation::CallResult;

namespace sheetapp {

// ---------------------------------------------------------------------------
// The open files of the process

namespace openfiles {
namespace {

struct OpenFiles
{
    std::mutex mutex;
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
    std::lock_guard<std::mutex> lock(f.mutex);
    if (f.paths.contains(canonicalPath))
        return false;
    f.paths.insert(canonicalPath);
    return true;
}

void release(const QString &canonicalPath)
{
    OpenFiles &f = openFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.paths.remove(canonicalPath);
}

} // namespace openfiles

bool isFileHeld(const QString &canonicalPath)
{
    auto &f = openfiles::openFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.paths.contains(canonicalPath);
}

// ---------------------------------------------------------------------------
// Shared state

void AppState::closeAll()
{
    for (const BookPtr &b : books) {
        b->close();
        openfiles::release(b->canonicalPath());
    }
    books.clear();
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

ApplicationObject::ApplicationObject(const Backends &backends)
    : m_state(std::make_shared<AppState>())
{
    m_state->backends = backends;
}

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
        return CallResult::ofValue(m_app->books.size());
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
        if (b->isOpen() && b->canonicalPath() == canonical)
            return CallResult::ofObject(std::make_shared<WorkbookObject>(b));
    }
    if (!openfiles::acquire(canonical))
        return CallResult::failure(
            QStringLiteral("%1: the workbook is open in another job").arg(path));

    // What the file is decides, not its name: legacy binary workbooks go to
    // the legacy backend; everything else is read as a package.
    const QString absolute = info.absoluteFilePath();
    QString error;
    const Opener *opener = &m_app->backends.package;
    switch (fileKind(canonical)) {
    case FileKind::Workbook:
        opener = &m_app->backends.legacy;
        error = QStringLiteral("%1: .xls workbooks are not supported here").arg(absolute);
        break;
    case FileKind::EncryptedWorkbook:
        opener = nullptr;
        error = QStringLiteral("%1: an .xls workbook with a password to open is not supported")
                    .arg(absolute);
        break;
    case FileKind::OtherCompound:
        opener = nullptr;
        error = QStringLiteral("%1: an OLE compound file that holds neither a readable .xls "
                               "workbook nor an .xlsx package (a workbook encrypted with a "
                               "password, a damaged .xls file, or another kind of document)")
                    .arg(absolute);
        break;
    case FileKind::NotCompound:
        break;
    }
    BookPtr book;
    if (opener && *opener) {
        error.clear();
        // The real file is opened (and later replaced) so that a link to it stays a link.
        book = (*opener)(canonical, absolute, m_app->books, &error);
    }
    if (!book) {
        openfiles::release(canonical);
        return CallResult::failure(
            error.isEmpty() ? QStringLiteral("%1: cannot be opened").arg(path) : error);
    }
    m_app->books.append(book);
    return CallResult::ofObject(std::make_shared<WorkbookObject>(book));
}

// ---------------------------------------------------------------------------

automation::DispatchPtr createApplication(const Backends &backends)
{
    return std::make_shared<ApplicationObject>(backends);
}

} // namespace sheetapp
