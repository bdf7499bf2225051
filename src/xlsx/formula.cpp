#include "xlsx/formula.h"

namespace xlsx {

QString shiftFormula(const QString &formula, int rowOffset, int columnOffset)
{
    Q_UNUSED(rowOffset);
    Q_UNUSED(columnOffset);
    return formula;
}

QString hideFormulaPrefixes(const QString &formula)
{
    return formula;
}

QString restoreFormulaPrefixes(const QString &edited, const QString &original)
{
    Q_UNUSED(original);
    return edited;
}

} // namespace xlsx
