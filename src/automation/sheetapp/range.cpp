// Range: Replace, Value, Address and Count.
#include "automation/sheetapp/objects_p.h"
#include "automation/sheetapp/rangeargs_p.h"

using automation::CallResult;

namespace sheetapp {

CallResult RangeObject::invoke(const QByteArray &member, const QVariantList &args)
{
    QString error;
    if (member == "Replace") {
        if (!checkReplaceArgumentCount(args, &error))
            return CallResult::failure(error);
        return replace(args);
    }
    CallResult failure;
    if (!isOpen(&failure))
        return failure;
    if (member == "Address" || member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        if (member == "Count")
            return CallResult::ofValue(static_cast<qlonglong>(m_range.rowCount()) *
                                       m_range.columnCount());
        return CallResult::ofValue(rangeAddress(m_range));
    }
    return unknownMember(*this, member);
}

bool RangeObject::setProperty(const QByteArray &name, const QVariant &value, QString *error)
{
    if (name != "Value")
        return unknownProperty(*this, name, error);
    CallResult failure;
    QString text;
    QString why;
    bool ok = isOpen(&failure);
    if (!ok)
        why = failure.error;
    else
        ok = valueWriteText(value, m_range, &text, &why) &&
             m_book->setText(m_sheet, m_range, text, &why);
    if (!ok && error)
        *error = why;
    return ok;
}

CallResult RangeObject::replace(const QVariantList &args)
{
    CallResult failure;
    if (!isOpen(&failure))
        return failure;
    QString error;
    ReplaceArguments parsed;
    if (!parseReplaceArguments(args, &parsed, &error))
        return CallResult::failure(error);
    bool changed = false;
    if (!m_book->replace(m_sheet, m_range, parsed, &changed, &error))
        return CallResult::failure(error);
    return CallResult::ofValue(changed);
}

} // namespace sheetapp
