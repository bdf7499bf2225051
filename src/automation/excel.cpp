#include "automation/excel.h"

using automation::AxObject;

namespace Excel {

Wrapper::Wrapper(AxObject *object) : m_object(object) {}

Wrapper::~Wrapper()
{
    delete m_object.data();
}

Application::Application(AxObject *object)
    : Wrapper(object ? object : new AxObject(QStringLiteral("Excel.Application")))
{
}

Application::~Application() = default;

void Application::setDisplayAlerts(bool value)
{
    if (m_object)
        m_object->setProperty("DisplayAlerts", value);
}

void Application::setVisible(bool value)
{
    if (m_object)
        m_object->setProperty("Visible", value);
}

Excel::Workbooks *Application::Workbooks()
{
    return m_object ? wrap<Excel::Workbooks>(m_object->querySubObject("Workbooks")) : nullptr;
}

void Application::Quit()
{
    if (m_object)
        m_object->dynamicCall("Quit()");
}

Excel::Workbook *Workbooks::Open(const QString &filename)
{
    return m_object
               ? wrap<Excel::Workbook>(m_object->querySubObject("Open(const QString&)", filename))
               : nullptr;
}

QString Workbook::Path()
{
    return m_object ? m_object->dynamicCall("Path()").toString() : QString();
}

Excel::Sheets *Workbook::Sheets()
{
    return m_object ? wrap<Excel::Sheets>(m_object->querySubObject("Sheets")) : nullptr;
}

Excel::Worksheet *Workbook::ActiveSheet()
{
    return m_object ? wrap<Excel::Worksheet>(m_object->querySubObject("ActiveSheet")) : nullptr;
}

bool Workbook::Save()
{
    if (!m_object)
        return false;
    // Save returns nothing: whether it worked shows only as an exception of the call.
    bool failed = false;
    const QMetaObject::Connection c = QObject::connect(
        m_object.data(), &automation::AxObject::exception,
        [&failed](int, const QString &, const QString &, const QString &) { failed = true; });
    m_object->dynamicCall("Save()");
    QObject::disconnect(c);
    return !failed;
}

int Sheets::Count()
{
    return m_object ? m_object->dynamicCall("Count()").toInt() : 0;
}

Excel::Worksheet *Sheets::Item(const QVariant &index)
{
    return m_object
               ? wrap<Excel::Worksheet>(m_object->querySubObject("Item(const QVariant&)", index))
               : nullptr;
}

Excel::Range *Worksheet::UsedRange()
{
    return m_object ? wrap<Excel::Range>(m_object->querySubObject("UsedRange")) : nullptr;
}

Excel::Range *Worksheet::Range(const QVariant &cell)
{
    return m_object ? wrap<Excel::Range>(m_object->querySubObject("Range(const QVariant&)", cell))
                    : nullptr;
}

bool Range::Replace(const QVariant &what, const QVariant &replacement, const QVariant &lookAt,
                    const QVariant &searchOrder, const QVariant &matchCase)
{
    return m_object &&
           m_object
               ->dynamicCall("Replace(const QVariant&, const QVariant&, const QVariant&, "
                             "const QVariant&, const QVariant&)",
                             what, replacement, lookAt, searchOrder, matchCase)
               .toBool();
}

bool Range::setValue(const QVariant &value)
{
    return m_object && m_object->setProperty("Value", value);
}

} // namespace Excel
