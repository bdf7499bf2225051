// Range.Replace calls of a workbook, held back and applied together: every
// call acts on each cell by itself, so applying all calls of a sheet to one
// cell before the next cell gives what one walk per call gives, in one walk.
// The calls are applied when anything else reads or writes cells or saves;
// Replace itself still answers at once whether it changes a cell. A call on a
// sheet of plain values is carried out at once on the shared strings it
// changes (see sharedreplace_p.h).
#pragma once

#include "automation/embedded/cellreplace_p.h"
#include "automation/embedded/matcher_p.h"
#include "automation/embedded/sharedreplace_p.h"
#include "xlsx/cellref.h"

#include <QString>
#include <QVector>

#include <vector>

namespace xlsx {
class Document;
} // namespace xlsx

namespace embedded {

// One Range.Replace call, with what lets a walk pass over cells it cannot change.
struct ReplaceCall
{
    ReplaceCall(int sheet, const xlsx::CellRange &range, const QString &what, bool matchCase,
                const QString &replacement, int lookAt, int searchOrder);

    int sheet;
    xlsx::CellRange range;
    QString what;
    bool matchCase;
    WildcardPattern pattern;
    QString replacement;
    int lookAt;
    int searchOrder;
    // False when the pattern asks for a character that no number, date or time shows.
    bool numbersCanMatch;
    // Text every match contains as it is stored (UTF-8), or empty; with
    // literalAnyCase, in lower case and its ASCII letters in any case.
    QByteArray literal;
    bool literalAnyCase = false;
    // Shared strings that this call is known to leave as they are.
    std::vector<bool> sharedMisses;
};

// Whether the stored bytes [p, e) may hold `literal` (a ReplaceCall's): with
// anyCase, `literal` is in lower case and its ASCII letters are found in either case.
bool bytesMayContain(const char *p, const char *e, const QByteArray &literal, bool anyCase);

class ReplaceQueue
{
public:
    // Range.Replace: true when the call changes a cell. The call is applied at
    // once to the shared strings of a sheet of plain values, or on a sheet with
    // tables (whose header cells depend on each other), or else queued. `path`
    // names the workbook in warnings.
    bool replace(xlsx::Document *doc, const QString &path, ReplaceCall call);
    // Applies every queued call and settles the texts held back.
    void flush(xlsx::Document *doc, const QString &path);
    bool isEmpty() const { return m_calls.empty() && m_deferred.empty(); }
    // Forgets the queued calls (the workbook is closed unsaved).
    void clear()
    {
        m_calls.clear();
        m_deferred.clear();
    }

private:
    std::vector<ReplaceCall> m_calls;
    SharedOwners m_owners;
    DeferredTexts m_deferred;
};

} // namespace embedded
