#include "automation/embedded/replacequeue_p.h"

#include "automation/embedded/cellwrite_p.h"
#include "automation/embedded/sharedreplace_p.h"

#include "xlsx/document.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <memory>

namespace embedded {

namespace {

// Characters that no other character folds to and that fold to no other:
// ASCII but the letters, and the CJK blocks.
bool foldsAlone(QChar c)
{
    const ushort u = c.unicode();
    return (u < 0x80 && !c.isLetter()) || (u >= 0x3000 && u <= 0x9fff) ||
           (u >= 0xac00 && u <= 0xd7a3) || (u >= 0xf900 && u <= 0xfaff);
}

} // namespace

ReplaceCall::ReplaceCall(int sheet, const xlsx::CellRange &range, const QString &what,
                         bool matchCase, const QString &replacement, int lookAt, int searchOrder)
    : sheet(sheet), range(range), what(what), matchCase(matchCase), pattern(what, matchCase),
      replacement(replacement), lookAt(lookAt), searchOrder(searchOrder),
      numbersCanMatch(pattern.couldMatchOnly(QStringLiteral("0123456789.-+E/: "))),
      literal(pattern.exactLiteral().toUtf8())
{
    // A case-insensitive text of ASCII letters and characters without case
    // is looked for in the stored bytes in either case of its letters.
    if (literal.isEmpty() && !matchCase && !what.isEmpty()) {
        for (QChar c : what) {
            const bool asciiLetter = c.unicode() < 0x80 && c.isLetter();
            if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('~') ||
                (!asciiLetter && !foldsAlone(c)))
                return;
        }
        literal = what.toLower().toUtf8();
        literalAnyCase = true;
    }
}

bool bytesMayContain(const char *p, const char *e, const QByteArray &literal, bool anyCase)
{
    const char *n = literal.constData();
    const qsizetype len = literal.size();
    if (!anyCase) {
        for (const char *q = p; e - q >= len; ++q) {
            q = static_cast<const char *>(memchr(q, n[0], size_t(e - q - len + 1)));
            if (!q)
                return false;
            if (memcmp(q, n, size_t(len)) == 0)
                return true;
        }
        return false;
    }
    // The only characters outside ASCII that fold to an ASCII letter: the
    // Kelvin sign (to "k") and the long s (to "s").
    auto has = [p, e](const char *seq, size_t k) {
        for (const char *q = p; size_t(e - q) >= k; ++q)
            if (memcmp(q, seq, k) == 0)
                return true;
        return false;
    };
    if ((memchr(n, 'k', size_t(len)) && has("\xE2\x84\xAA", 3)) ||
        (memchr(n, 's', size_t(len)) && has("\xC5\xBF", 2)))
        return true;
    for (const char *q = p; e - q >= len; ++q) {
        qsizetype k = 0;
        while (k < len && (q[k] >= 'A' && q[k] <= 'Z' ? char(q[k] | 0x20) : q[k]) == n[k])
            ++k;
        if (k == len)
            return true;
    }
    return false;
}

namespace {

// What is known of one cell's stored string, looked up once for all calls.
struct StoredText
{
    bool looked = false;
    bool plain = false;
    const char *begin = nullptr;
    const char *end = nullptr;
};

// One sheet being searched or changed.
struct SheetWalk
{
    xlsx::Document *doc;
    xlsx::Worksheet *ws;
    const QString &path;
    bool locked;
    SheetWriter writer;
    bool quiet = false; // a look ahead whose edits are let go: they are told when made

    SheetWalk(xlsx::Document *doc, xlsx::Worksheet *ws, const QString &path)
        : doc(doc), ws(ws), path(path), locked(ws->isProtected()), writer(doc, ws)
    {
    }

    void warn(const xlsx::CellHead &head, const QString &why) const
    {
        if (quiet)
            return;
        qWarning().noquote() << QStringLiteral("Range.Replace: %1, sheet \"%2\", cell %3 left "
                                               "unchanged: %4")
                                    .arg(path, ws->name(),
                                         xlsx::CellRef(head.row, head.column).toString(), why);
    }

    static void missShared(ReplaceCall &call, const xlsx::CellHead &head)
    {
        const int sst = head.sharedString;
        if (head.hasFormula || sst < 0)
            return;
        if (size_t(sst) >= call.sharedMisses.size())
            call.sharedMisses.resize(size_t(sst) + 1, false);
        call.sharedMisses[size_t(sst)] = true;
    }

    // False when `call` certainly leaves cell i as it is stored now; told
    // from the cell's head and stored bytes, without decoding the cell.
    bool mayChange(int i, const xlsx::CellHead &head, ReplaceCall &call, StoredText *stored) const
    {
        if (!call.range.contains(head.row, head.column))
            return false;
        const int sst = head.sharedString;
        if (!head.hasFormula) {
            if (head.type == xlsx::CellType::Number && !call.numbersCanMatch)
                return false;
            if (head.type == xlsx::CellType::Empty)
                return false;
            if (sst >= 0 && size_t(sst) < call.sharedMisses.size() &&
                call.sharedMisses[size_t(sst)])
                return false;
            if (!call.literal.isEmpty() && (head.type == xlsx::CellType::InlineString ||
                                            head.type == xlsx::CellType::SharedString)) {
                if (!stored->looked) {
                    stored->looked = true;
                    stored->plain = ws->plainStoredText(i, &stored->begin, &stored->end);
                }
                if (stored->plain && !bytesMayContain(stored->begin, stored->end, call.literal,
                                                      call.literalAnyCase)) {
                    missShared(call, head);
                    return false;
                }
            }
        }
        // A protected sheet's locked cells are not changed.
        return !(locked && doc->isStyleLocked(head.style));
    }

    // Whether `call` changes `cell` (the stored cell i); learns the shared
    // strings it leaves alone. *refused is set when a match cannot be stored.
    bool changes(const xlsx::Cell &cell, const xlsx::CellHead &head, ReplaceCall &call,
                 bool *refused)
    {
        const CellEdit edit =
            writer.checkColumns(cell, replaceInCell(cell, writer.formats().of(head.style),
                                                    call.pattern, call.replacement, call.lookAt));
        if (edit.kind == CellEdit::None)
            missShared(call, head);
        if (edit.kind == CellEdit::Refused && refused)
            *refused = true;
        return edit.kind != CellEdit::None && edit.kind != CellEdit::Refused;
    }

    // The writes one cell received, replayed on the cells that hold the same
    // shared string in the same style.
    struct Outcome
    {
        int style = 0;
        std::vector<CellEdit> writes;
        QStringList refusals;
    };

    // Applies `calls` in their order to cell i, as one walk per call would;
    // records in *outcome what was written. True when the cell changed.
    bool applyToCell(int i, const xlsx::CellHead &head, const std::vector<ReplaceCall *> &calls,
                     Outcome *outcome)
    {
        xlsx::Cell cur;
        bool decoded = false;
        bool edited = false;
        StoredText stored;
        CellFormat format;
        for (ReplaceCall *call : calls) {
            if (!edited ? !mayChange(i, head, *call, &stored)
                        : !call->range.contains(head.row, head.column))
                continue;
            if (!decoded) {
                cur = ws->cellAt(i);
                format = writer.formats().of(head.style);
                decoded = true;
            }
            const CellEdit edit = writer.checkColumns(
                cur, replaceInCell(cur, format, call->pattern, call->replacement, call->lookAt));
            if (edit.kind == CellEdit::None) {
                if (!edited)
                    missShared(*call, head);
                continue;
            }
            QString why = edit.reason;
            if (edit.kind != CellEdit::Refused && writer.write(head.row, head.column, edit, &why)) {
                if (outcome)
                    outcome->writes.push_back(edit);
                cur = ws->cellAt(i); // the next call sees the cell as it is stored now
                edited = true;
                continue;
            }
            warn(head, why);
            if (outcome)
                outcome->refusals << why;
        }
        return edited;
    }

    // Every call, cell by cell, in one walk; cells that refer to a shared
    // string marked in `done` already read what the calls make of them.
    void applyAll(const std::vector<ReplaceCall *> &calls, const std::vector<bool> &done)
    {
        // Cells that hold the same shared string in the same style, as plain
        // values, come out of the calls alike: the first one's writes serve
        // the others.
        const bool reuse = ws->arrayFormulaRanges().isEmpty();
        // By shared string: 0 not seen, -1 seen once, else 1 + index into outcomes. A string
        // is recorded when it comes again: most that come once never do.
        std::vector<int> known;
        std::vector<Outcome> outcomes;
        const int count = ws->cellCount();
        for (int i = 0; i < count; ++i) {
            const xlsx::CellHead head = ws->headAt(i);
            if (!head.hasFormula && head.type == xlsx::CellType::Empty)
                continue;
            const int sst = head.sharedString;
            if (!head.hasFormula && sst >= 0 && size_t(sst) < done.size() && done[size_t(sst)])
                continue;
            const bool shared = reuse && !head.hasFormula && sst >= 0 &&
                                std::all_of(calls.begin(), calls.end(), [&](ReplaceCall *c) {
                                    return c->range.contains(head.row, head.column);
                                });
            if (!shared) {
                applyToCell(i, head, calls, nullptr);
                continue;
            }
            if (size_t(sst) >= known.size())
                known.resize(size_t(sst) + 1, 0);
            const int slot = known[size_t(sst)];
            if (slot == 0) {
                applyToCell(i, head, calls, nullptr);
                known[size_t(sst)] = -1;
                continue;
            }
            if (slot < 0) {
                Outcome outcome;
                outcome.style = head.style;
                applyToCell(i, head, calls, &outcome);
                outcomes.push_back(std::move(outcome));
                known[size_t(sst)] = int(outcomes.size());
                continue;
            }
            const Outcome &o = outcomes[size_t(slot - 1)];
            if (o.style != head.style) {
                applyToCell(i, head, calls, nullptr);
                continue;
            }
            for (const auto &w : o.writes) {
                QString why;
                if (!writer.write(head.row, head.column, w, &why))
                    warn(head, why);
            }
            for (const QString &why : o.refusals)
                warn(head, why);
        }
    }

    // One call alone, in its search order: for sheets whose cells depend on
    // each other (table headers).
    bool applyNow(ReplaceCall &call)
    {
        const std::vector<ReplaceCall *> one{&call};
        bool changed = false;
        const int count = ws->cellCount();
        // The cell being visited: a header renamed there may count on the cells after it.
        int atRow = -1;
        int atColumn = -1;
        writer.setLiteralFollow([&](const xlsx::Worksheet *w, int row, int column,
                                    const QString &literal) {
            const bool later = call.searchOrder == 1
                                   ? std::make_pair(row, column) > std::make_pair(atRow, atColumn)
                                   : std::make_pair(column, row) > std::make_pair(atColumn, atRow);
            if (w != ws || !later || call.lookAt != 2 || !call.range.contains(row, column))
                return QString();
            const xlsx::Cell cell = ws->cell(row, column);
            if ((locked && doc->isStyleLocked(cell.style)) ||
                (cell.formulaKind == xlsx::FormulaKind::ArrayMaster &&
                 cell.formulaRange.rowCount() * qint64(cell.formulaRange.columnCount()) > 1))
                return QString();
            const QVector<TextMatch> matches = call.pattern.findAll(literal);
            return matches.isEmpty() ? QString()
                                     : replaceMatches(literal, matches, call.replacement);
        });
        auto visit = [&](int i) {
            const xlsx::CellHead head = ws->headAt(i);
            atRow = head.row;
            atColumn = head.column;
            return applyToCell(i, head, one, nullptr);
        };
        struct Reset
        {
            SheetWriter &w;
            ~Reset() { w.setLiteralFollow(nullptr); }
        } reset{writer};
        if (call.searchOrder == 1) {
            for (int i = 0; i < count; ++i)
                changed = visit(i) || changed;
            return changed;
        }
        std::vector<std::pair<int, int>> byColumn; // (column, position)
        for (int i = 0; i < count; ++i) {
            const xlsx::CellHead h = ws->headAt(i);
            if (call.range.contains(h.row, h.column))
                byColumn.emplace_back(h.column, i);
        }
        // Positions grow with the row within a column; editing a cell that
        // exists keeps every position.
        std::sort(byColumn.begin(), byColumn.end());
        for (const auto &cp : byColumn)
            changed = visit(cp.second) || changed;
        return changed;
    }

    // Whether `call` changes some cell once `pending` (this sheet's queued
    // calls) are applied, told without applying them where they change
    // nothing: 1 yes, 0 no, -1 undecided, with the cells that decide it in
    // *open (those that a queued call changes). *refused: a match somewhere
    // cannot be stored.
    int wouldChange(ReplaceCall &call, const std::vector<ReplaceCall *> &pending,
                    std::vector<int> *open, bool *refused)
    {
        const int count = ws->cellCount();
        for (int i = 0; i < count; ++i) {
            const xlsx::CellHead head = ws->headAt(i);
            xlsx::Cell cell;
            bool decoded = false;
            auto decode = [&]() -> const xlsx::Cell & {
                if (!decoded) {
                    cell = ws->cellAt(i);
                    decoded = true;
                }
                return cell;
            };
            bool queued = false;
            StoredText stored;
            for (ReplaceCall *p : pending) {
                if (mayChange(i, head, *p, &stored) && changes(decode(), head, *p, nullptr)) {
                    queued = true;
                    break;
                }
            }
            if (queued)
                open->push_back(i);
            else if (mayChange(i, head, call, &stored) && changes(decode(), head, call, refused))
                return 1;
        }
        return open->empty() ? 0 : -1;
    }
};

// Whether `calls` leave every cell of an unedited sheet as it reads now: its values are
// shared strings already done and numbers no call matches.
bool settled(const xlsx::Worksheet *ws, const std::vector<ReplaceCall *> &calls,
             const std::vector<bool> &done)
{
    const xlsx::SheetSummary *sum = ws->summary();
    if (!sum || !sum->plain)
        return false;
    if (sum->numbers && std::any_of(calls.begin(), calls.end(),
                                    [](const ReplaceCall *c) { return c->numbersCanMatch; }))
        return false;
    const std::vector<qint32> &styles = sum->sharedStyles;
    for (size_t i = 0; i < styles.size(); ++i)
        if (styles[i] != -1 && (i >= done.size() || !done[i]))
            return false;
    return true;
}

// Whether `call` changes a cell of a windowed sheet once the calls `pending` on it are made:
// 1 yes, 0 no, -1 no but a match cannot be stored (so the call is kept to tell it). Window by
// window, the pending calls made on each (and let go) and the call tried on its cells.
int changesInWindows(xlsx::Document *doc, xlsx::Worksheet *ws, const QString &path,
                     ReplaceCall &call, const std::vector<ReplaceCall *> &pending)
{
    bool changes = false;
    bool refused = false;
    QString error;
    const bool ok = ws->forEachWindow(
        [&](xlsx::Worksheet *window) {
            SheetWalk walk(doc, window, path);
            walk.quiet = true;
            if (!pending.empty())
                walk.applyAll(pending, std::vector<bool>());
            const int count = window->cellCount();
            for (int i = 0; i < count && !changes; ++i) {
                const xlsx::CellHead head = window->headAt(i);
                StoredText stored;
                changes = walk.mayChange(i, head, call, &stored) &&
                          walk.changes(window->cellAt(i), head, call, &refused);
            }
            return !changes;
        },
        &error);
    if (!ok) {
        qWarning().noquote() << "Range.Replace:" << error;
        return 0;
    }
    return changes ? 1 : refused ? -1 : 0;
}

} // namespace

bool ReplaceQueue::replace(xlsx::Document *doc, const QString &path, ReplaceCall call)
{
    QString error;
    xlsx::Worksheet *ws = doc->worksheet(call.sheet, &error);
    if (!ws) {
        qWarning().noquote() << "Range.Replace:" << error;
        return false;
    }
    if (call.pattern.isEmpty())
        return false;
    const QVector<xlsx::TableInfo> tables = ws->tables();
    if (std::any_of(tables.begin(), tables.end(),
                    [](const xlsx::TableInfo &t) { return t.headerRowCount > 0; })) {
        // Renaming one header can rename another: applied now, in order.
        flush(doc, path);
        return SheetWalk(doc, ws, path).applyNow(call);
    }
    // With no call waiting on the sheet, a call that changes only strings of this sheet's
    // own is applied to them at once, without reading the cells.
    if (std::none_of(m_calls.begin(), m_calls.end(),
                     [&](const ReplaceCall &c) { return c.sheet == call.sheet; })) {
        const int own = replaceInOwnStrings(doc, path, call, &m_owners, &m_deferred);
        if (own >= 0)
            return own > 0;
        // The cells go on from what the calls applied so far made of them.
        const auto held = m_deferred.find(call.sheet);
        if (held != m_deferred.end()) {
            if (!held->second.isEmpty())
                writeDeferredIntoCells(doc, path, call.sheet, held->second);
            m_deferred.erase(held);
        }
    }
    std::vector<ReplaceCall *> pending;
    for (ReplaceCall &c : m_calls)
        if (c.sheet == call.sheet)
            pending.push_back(&c);
    if (ws->isWindowed()) {
        const int verdict = changesInWindows(doc, ws, path, call, pending);
        if (verdict != 0)
            m_calls.push_back(std::move(call));
        return verdict > 0;
    }
    SheetWalk walk(doc, ws, path);
    std::vector<int> open;
    bool refused = false;
    int verdict = walk.wouldChange(call, pending, &open, &refused);
    if (verdict < 0) {
        // Some cells depend on the queued calls: apply them, then look there.
        flush(doc, path);
        verdict = 0;
        for (int i : open) {
            const xlsx::CellHead head = ws->headAt(i);
            StoredText stored;
            if (walk.mayChange(i, head, call, &stored) &&
                walk.changes(ws->cellAt(i), head, call, &refused)) {
                verdict = 1;
                break;
            }
        }
    }
    // A call that changes nothing is dropped, unless it has refusals to tell.
    if (verdict > 0 || refused)
        m_calls.push_back(std::move(call));
    return verdict > 0;
}

void ReplaceQueue::flush(xlsx::Document *doc, const QString &path)
{
    settleDeferred(doc, path, &m_deferred);
    if (m_calls.empty())
        return;
    std::vector<ReplaceCall> calls;
    calls.swap(m_calls);
    std::vector<ReplaceCall *> all;
    for (ReplaceCall &c : calls)
        all.push_back(&c);
    const std::vector<bool> done = replaceInSharedStrings(doc, path, all);
    std::vector<int> sheets;
    for (const ReplaceCall &c : calls)
        if (std::find(sheets.begin(), sheets.end(), c.sheet) == sheets.end())
            sheets.push_back(c.sheet);
    for (int sheet : sheets) {
        QString error;
        xlsx::Worksheet *ws = doc->worksheet(sheet, &error);
        if (!ws) {
            qWarning().noquote() << "Range.Replace:" << error;
            continue;
        }
        std::vector<ReplaceCall *> mine;
        for (ReplaceCall &c : calls)
            if (c.sheet == sheet)
                mine.push_back(&c);
        if (settled(ws, mine, done))
            continue;
        if (!ws->isWindowed()) {
            SheetWalk(doc, ws, path).applyAll(mine, done);
            continue;
        }
        // Made as the save writes the sheet, a window of rows at a time.
        auto held = std::make_shared<std::pair<std::vector<ReplaceCall>, std::vector<bool>>>();
        for (ReplaceCall *c : mine)
            held->first.push_back(std::move(*c)); // the flush lets its calls go
        held->second = done;
        const bool wasModified = ws->isModified();
        ws->addWindowEdit([held, doc, path](xlsx::Worksheet *window) {
            std::vector<ReplaceCall *> calls;
            for (ReplaceCall &c : held->first)
                calls.push_back(&c);
            SheetWalk walk(doc, window, path);
            walk.quiet = window->isLookAhead();
            walk.applyAll(calls, held->second);
        });
        // Edits that the shared strings already made leave the sheet as it is stored: then
        // it is not rewritten. Told by the first window the calls change.
        bool changes = false;
        QString unread;
        ws->forEachWindow(
            [&changes](xlsx::Worksheet *window) {
                changes = window->isModified();
                return !changes;
            },
            &unread);
        if (!changes && unread.isEmpty())
            ws->dropLastWindowEdit(wasModified);
    }
}

} // namespace embedded
