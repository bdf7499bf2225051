#include "automation/axobject.h"

#include "automation/apartment.h"
#include "automation/axobject_p.h"

#include <QDebug>
#include <QMetaObject>

#include <cctype>

namespace automation {

namespace detail {

Signature parseSignature(const char *text)
{
    Signature sig;
    if (!text)
        return sig;
    const QByteArray s = QByteArray(text).trimmed();
    const int open = s.indexOf('(');
    sig.name = (open < 0 ? s : s.left(open)).trimmed();
    if (sig.name.isEmpty())
        return sig;
    for (char c : sig.name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return sig;
    }
    if (open >= 0) {
        if (!s.endsWith(')'))
            return sig;
        const QByteArray inner = s.mid(open + 1, s.size() - open - 2).trimmed();
        if (!inner.isEmpty()) {
            for (const QByteArray &part : inner.split(',')) {
                const QByteArray type = QMetaObject::normalizedType(part.trimmed().constData());
                if (type.isEmpty())
                    return sig;
                sig.types << type;
            }
        }
    }
    sig.valid = true;
    return sig;
}

bool bindArguments(const Signature &sig, const QVariantList &given, QVariantList *bound,
                   QString *error)
{
    if (given.size() != sig.types.size()) {
        *error = QStringLiteral("%1 takes %2 argument(s), %3 given")
                     .arg(QString::fromLatin1(sig.name))
                     .arg(sig.types.size())
                     .arg(given.size());
        return false;
    }
    bound->clear();
    for (int i = 0; i < given.size(); ++i) {
        const QByteArray &type = sig.types.at(i);
        if (type == "QVariant") {
            bound->append(given.at(i));
            continue;
        }
        const int id = QMetaType::type(type.constData());
        QVariant v = given.at(i);
        if (id == QMetaType::UnknownType || !v.convert(id)) {
            *error = QStringLiteral("argument %1 of %2 is not a %3")
                         .arg(i + 1)
                         .arg(QString::fromLatin1(sig.name), QString::fromLatin1(type));
            return false;
        }
        bound->append(v);
    }
    return true;
}

} // namespace detail

namespace {

QVariantList givenArguments(std::initializer_list<const QVariant *> vars)
{
    QVariantList list;
    for (const QVariant *v : vars)
        list.append(*v);
    while (!list.isEmpty() && !list.constLast().isValid())
        list.removeLast();
    return list;
}

} // namespace

AxObject::AxObject(const QString &control, QObject *parent) : QObject(parent), m_control(control)
{
    apartment::objectCreated();
    if (!apartment::isEntered()) {
        warn(QStringLiteral("cannot create %1: the thread has not entered an apartment")
                 .arg(control));
        return;
    }
    QString error;
    m_object = createServer(control, &error);
    if (!m_object)
        warn(QStringLiteral("cannot create %1: %2").arg(control, error));
}

AxObject::AxObject(DispatchPtr object, QObject *parent)
    : QObject(parent), m_object(std::move(object))
{
    apartment::objectCreated();
    if (m_object)
        m_control = m_object->typeName();
}

AxObject::~AxObject()
{
    // Children (objects obtained from this one) go first, as they hold on to
    // parts of this object's server state.
    qDeleteAll(findChildren<AxObject *>(QString(), Qt::FindDirectChildrenOnly));
    m_object.reset();
    apartment::objectDestroyed();
}

void AxObject::warn(const QString &what)
{
    m_lastError = what;
    qWarning().noquote() << "AxObject:" << what;
    emit exception(-1, m_control, what, QString());
}

CallResult AxObject::call(const char *signature, const QVariantList &given)
{
    const detail::Signature sig = detail::parseSignature(signature);
    const QString member = QString::fromLatin1(signature ? signature : "");
    if (!sig.valid)
        return CallResult::failure(QStringLiteral("bad member signature \"%1\"").arg(member));
    if (!m_object)
        return CallResult::failure(QStringLiteral("%1: the object is null").arg(member));
    if (!apartment::isEntered())
        return CallResult::failure(
            QStringLiteral("%1: the thread has not entered an apartment").arg(member));
    QVariantList bound;
    QString error;
    if (!detail::bindArguments(sig, given, &bound, &error))
        return CallResult::failure(
            QStringLiteral("%1::%2: %3")
                .arg(m_object->typeName(), QString::fromLatin1(sig.name), error));
    CallResult r = m_object->invoke(sig.name, bound);
    if (!r.ok && r.error.isEmpty())
        r.error = QStringLiteral("failed");
    if (!r.ok)
        r.error = QStringLiteral("%1::%2: %3")
                      .arg(m_object->typeName(), QString::fromLatin1(sig.name), r.error);
    return r;
}

AxObject *AxObject::querySubObject(const char *name, const QVariant &var1, const QVariant &var2,
                                   const QVariant &var3, const QVariant &var4, const QVariant &var5,
                                   const QVariant &var6, const QVariant &var7, const QVariant &var8)
{
    CallResult r =
        call(name, givenArguments({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8}));
    if (r.ok && !r.object)
        r = CallResult::failure(
            QStringLiteral("%1 yields no object").arg(QString::fromLatin1(name)));
    if (!r.ok) {
        warn(r.error);
        return nullptr;
    }
    return new AxObject(std::move(r.object), this);
}

QVariant AxObject::dynamicCall(const char *function, const QVariant &var1, const QVariant &var2,
                               const QVariant &var3, const QVariant &var4, const QVariant &var5,
                               const QVariant &var6, const QVariant &var7, const QVariant &var8)
{
    const CallResult r =
        call(function, givenArguments({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8}));
    if (!r.ok) {
        warn(r.error);
        return QVariant();
    }
    return r.value;
}

bool AxObject::setProperty(const char *name, const QVariant &value)
{
    const detail::Signature sig = detail::parseSignature(name);
    QString error;
    if (!sig.valid || !sig.types.isEmpty())
        error = QStringLiteral("bad property name \"%1\"").arg(QString::fromLatin1(name));
    else if (!m_object)
        error = QStringLiteral("%1: the object is null").arg(QString::fromLatin1(name));
    else if (!apartment::isEntered())
        error = QStringLiteral("%1: the thread has not entered an apartment")
                    .arg(QString::fromLatin1(name));
    else if (!m_object->setProperty(sig.name, value, &error))
        error = QStringLiteral("%1::%2: %3")
                    .arg(m_object->typeName(), QString::fromLatin1(sig.name),
                         error.isEmpty() ? QStringLiteral("write failed") : error);
    if (!error.isEmpty()) {
        warn(error);
        return false;
    }
    return true;
}

} // namespace automation
