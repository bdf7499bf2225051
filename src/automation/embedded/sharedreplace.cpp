#include "automation/embedded/sharedreplace_p.h"

#include "automation/embedded/cellreplace_p.h"
#include "automation/embedded/replacequeue_p.h"

#include "xlsx/document.h"

#include <QDebug>

#include <map>

namespace embedded {

namespace {

// What the cells referring to one shared string have in common so far.
enum : int
{
    Unseen = -1,
    Mixed = -2,     // the cells differ in what the calls make of them
    Untouched = -3, // every cell lies where no call reaches
};

// The sheets whose calls are the same (and alike protected) act alike on a cell in a given
// style: they share one group.
struct SheetGroup
{
    std::vector<ReplaceCall *> calls;
    bool locked = false; // the sheets are protected
};

bool covers(const xlsx::CellRange &outer, const xlsx::CellRange &inner)
{
    return outer.contains(inner.firstRow, inner.firstColumn) &&
           outer.contains(inner.lastRow, inner.lastColumn);
}

// Calls `visit(sst)` for the shared strings the cells of `ws` refer to: from its summary
// when it has one, or else cell by cell (then a string may come more than once).
template <typename Visit> void forEachSharedRef(const xlsx::Worksheet *ws, Visit visit)
{
    if (const xlsx::SheetSummary *sum = ws->summary()) {
        for (size_t i = 0; i < sum->sharedStyles.size(); ++i)
            if (sum->sharedStyles[i] != -1)
                visit(int(i));
        return;
    }
    const int count = ws->cellCount();
    for (int i = 0; i < count; ++i) {
        const xlsx::CellHead head = ws->headAt(i);
        if (head.type == xlsx::CellType::SharedString && head.sharedString >= 0)
            visit(head.sharedString);
    }
}

bool sameCalls(const std::vector<ReplaceCall *> &a, const std::vector<ReplaceCall *> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const ReplaceCall &x = *a[i];
        const ReplaceCall &y = *b[i];
        if (x.what != y.what || x.matchCase != y.matchCase || x.replacement != y.replacement ||
            x.lookAt != y.lookAt)
            return false;
    }
    return true;
}

} // namespace

std::vector<bool> replaceInSharedStrings(xlsx::Document *doc, const QString &path,
                                         const std::vector<ReplaceCall *> &calls)
{
    const int strings = doc->sharedStringCount();
    std::vector<bool> done;
    if (strings == 0 || calls.empty())
        return done;

    std::vector<SheetGroup> groups;
    std::vector<std::vector<ReplaceCall *>> bySheet(size_t(doc->sheetCount()));
    for (ReplaceCall *c : calls)
        if (c->sheet >= 0 && c->sheet < doc->sheetCount())
            bySheet[size_t(c->sheet)].push_back(c);

    // Every cell of every worksheet that refers to a shared string: the group and style it
    // is in, by string.
    std::map<std::pair<int, int>, int> keys; // (group, style) -> key
    std::vector<std::pair<int, int>> keyList;
    std::vector<int> state(size_t(strings), Unseen);
    auto merge = [&](int sst, int key) {
        int &st = state[size_t(sst)];
        st = st == Unseen || st == key ? key : Mixed;
    };
    for (int s = 0; s < doc->sheetCount(); ++s) {
        if (doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
            continue;
        QString error;
        xlsx::Worksheet *ws = doc->worksheet(s, &error);
        if (!ws)
            return done;
        const std::vector<ReplaceCall *> &mine = bySheet[size_t(s)];
        int group = -1;
        if (!mine.empty()) {
            const bool locked = ws->isProtected();
            for (size_t g = 0; g < groups.size() && group < 0; ++g)
                if (groups[g].locked == locked && sameCalls(groups[g].calls, mine))
                    group = int(g);
            if (group < 0) {
                groups.push_back({mine, locked});
                group = int(groups.size()) - 1;
            }
        }
        // Values inside multi-cell array formulas are never replaced: such a sheet's strings
        // are left to the walk.
        bool arrays = false;
        for (const xlsx::CellRange &r : ws->arrayFormulaRanges())
            arrays = arrays || r.rowCount() > 1 || r.columnCount() > 1;
        // A sheet whose cells are not held answers from its summary when the calls reach
        // all of its cells.
        if (const xlsx::SheetSummary *sum = ws->summary()) {
            bool whole = true;
            for (ReplaceCall *c : mine)
                whole = whole && covers(c->range, sum->used);
            if (whole) {
                const std::vector<qint32> &styles = sum->sharedStyles;
                for (size_t i = 0; i < styles.size() && int(i) < strings; ++i) {
                    const qint32 st = styles[i];
                    if (st == -1)
                        continue;
                    if (st < 0 || arrays) {
                        merge(int(i), Mixed);
                    } else if (mine.empty()) {
                        merge(int(i), Untouched);
                    } else {
                        auto it = keys.emplace(std::make_pair(group, int(st)), int(keyList.size()));
                        if (it.second)
                            keyList.emplace_back(group, int(st));
                        merge(int(i), it.first->second);
                    }
                }
                continue;
            }
        }
        const int count = ws->cellCount();
        for (int i = 0; i < count; ++i) {
            const xlsx::CellHead head = ws->headAt(i);
            const int sst = head.sharedString;
            if (head.type != xlsx::CellType::SharedString || sst < 0 || sst >= strings)
                continue;
            if (head.hasFormula || arrays) {
                merge(sst, Mixed);
                continue;
            }
            int inRange = 0;
            for (ReplaceCall *c : mine)
                inRange += c->range.contains(head.row, head.column) ? 1 : 0;
            if (inRange == 0) {
                merge(sst, Untouched);
            } else if (size_t(inRange) < mine.size()) {
                merge(sst, Mixed);
            } else {
                auto it = keys.emplace(std::make_pair(group, head.style), int(keyList.size()));
                if (it.second)
                    keyList.emplace_back(group, head.style);
                merge(sst, it.first->second);
            }
        }
    }

    CellFormats formats(doc);
    done.assign(size_t(strings), false);
    for (int sst = 0; sst < strings; ++sst) {
        const int key = state[size_t(sst)];
        if (key < 0)
            continue;
        const SheetGroup &group = groups[size_t(keyList[size_t(key)].first)];
        const int style = keyList[size_t(key)].second;
        if (group.locked && doc->isStyleLocked(style)) {
            done[size_t(sst)] = true; // locked cells keep their values
            continue;
        }
        const char *sb = nullptr;
        const char *se = nullptr;
        const bool plain = doc->plainSharedString(sst, &sb, &se);
        xlsx::Cell cell;
        bool decoded = false;
        bool changed = false;
        bool ok = true;
        for (ReplaceCall *c : group.calls) {
            // Until a call changes it, the stored bytes tell most strings a call cannot match.
            if (!changed && plain && !c->literal.isEmpty() &&
                !bytesMayContain(sb, se, c->literal, c->literalAnyCase))
                continue;
            if (!decoded) {
                cell.exists = true;
                cell.type = xlsx::CellType::SharedString;
                cell.style = style;
                cell.text = doc->sharedString(sst);
                decoded = true;
            }
            const CellEdit edit =
                replaceInCell(cell, formats.of(style), c->pattern, c->replacement, c->lookAt);
            if (edit.kind == CellEdit::None)
                continue;
            if (edit.kind != CellEdit::String) {
                // Typed, emptied or refused: each cell takes it in its own place.
                ok = false;
                break;
            }
            cell = cellAfter(cell, edit);
            changed = true;
        }
        if (!ok)
            continue;
        // A string no call changes needs nothing either.
        done[size_t(sst)] = true;
        if (!changed)
            continue;
        QString error;
        if (!doc->setSharedString(sst, cell.text, &error)) {
            qWarning().noquote() << "Range.Replace:" << path << error;
            done[size_t(sst)] = false;
            break;
        }
    }
    return done;
}

bool SharedOwners::ensure(xlsx::Document *doc)
{
    if (m_known)
        return m_ok;
    m_known = true;
    const int strings = doc->sharedStringCount();
    m_owner.assign(size_t(strings), None);
    auto mark = [&](int sst, int sheet) {
        if (sst < 0 || sst >= strings)
            return;
        int &o = m_owner[size_t(sst)];
        o = o == None || o == sheet ? sheet : Several;
    };
    for (int s = 0; s < doc->sheetCount(); ++s) {
        // Chart and dialog sheets hold no cells.
        if (doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
            continue;
        QString error;
        xlsx::Worksheet *ws = doc->checkWorksheet(s, &error);
        if (!ws) {
            m_owner.clear();
            return false;
        }
        forEachSharedRef(ws, [&](int sst) { mark(sst, s); });
    }
    m_ok = true;
    return true;
}

int replaceInOwnStrings(xlsx::Document *doc, const QString &path, const ReplaceCall &call,
                        SharedOwners *owners, DeferredTexts *deferred)
{
    // Strings shared with other sheets are held back in memory: only so many of them.
    constexpr int kMaxDeferred = 1 << 16;
    QString error;
    xlsx::Worksheet *ws = doc->worksheet(call.sheet, &error);
    const xlsx::SheetSummary *sum = ws ? ws->summary() : nullptr;
    if (!sum || !sum->plain || (sum->numbers && call.numbersCanMatch) ||
        !covers(call.range, sum->used) || !owners->ensure(doc))
        return -1;
    const bool locked = ws->isProtected();
    CellFormats formats(doc);
    const std::vector<qint32> &styles = sum->sharedStyles;
    const int strings = doc->sharedStringCount();
    // Every change is known before the first is made: a string the call cannot take alone
    // leaves the call to the cells.
    QHash<int, QString> &held = (*deferred)[call.sheet];
    int heldCount = 0;
    for (const auto &d : *deferred)
        heldCount += d.second.size();
    std::vector<std::pair<int, QString>> changes; // of strings this sheet's alone
    std::vector<std::pair<int, QString>> holds;   // of strings other sheets refer to too
    for (size_t i = 0; i < styles.size(); ++i) {
        const qint32 st = styles[i];
        if (st == -1 || int(i) >= strings)
            continue;
        if (st < 0)
            return -1;
        if (locked && doc->isStyleLocked(st))
            continue;
        const auto h = held.constFind(int(i));
        const char *sb = nullptr;
        const char *se = nullptr;
        if (h == held.constEnd() && !call.literal.isEmpty() &&
            doc->plainSharedString(int(i), &sb, &se) &&
            !bytesMayContain(sb, se, call.literal, call.literalAnyCase))
            continue;
        if (h != held.constEnd() && !call.literal.isEmpty()) {
            // A text held back is the text itself, in its bytes.
            const QByteArray bytes = h->toUtf8();
            if (!bytesMayContain(bytes.constData(), bytes.constData() + bytes.size(), call.literal,
                                 call.literalAnyCase))
                continue;
        }
        xlsx::Cell cell;
        cell.exists = true;
        cell.type = xlsx::CellType::SharedString;
        cell.style = st;
        cell.text = h == held.constEnd() ? doc->sharedString(int(i)) : *h;
        const CellEdit edit =
            replaceInCell(cell, formats.of(st), call.pattern, call.replacement, call.lookAt);
        if (edit.kind == CellEdit::None)
            continue;
        if (edit.kind != CellEdit::String)
            return -1;
        if (owners->owner(int(i)) == call.sheet) {
            changes.emplace_back(int(i), edit.text);
        } else {
            if (h == held.constEnd() && ++heldCount > kMaxDeferred)
                return -1;
            holds.emplace_back(int(i), edit.text);
        }
    }
    if (!doc->setSharedStrings(changes, &error)) {
        qWarning().noquote() << "Range.Replace:" << path << error;
        return -1;
    }
    for (auto &h : holds)
        held.insert(h.first, std::move(h.second));
    if (held.isEmpty())
        deferred->erase(call.sheet);
    return changes.empty() && holds.empty() ? 0 : 1;
}

// Gives the cells of `ws` that refer to a string of `texts` its text, inline.
static bool writeTextsIntoCells(xlsx::Worksheet *ws, const QString &path,
                                const QHash<int, QString> &texts, bool quiet = false)
{
    QString error;
    bool ok = true;
    const int count = ws->cellCount();
    for (int i = 0; i < count; ++i) {
        const xlsx::CellHead head = ws->headAt(i);
        if (head.type != xlsx::CellType::SharedString || head.hasFormula)
            continue;
        const auto t = texts.constFind(head.sharedString);
        if (t != texts.constEnd() && !ws->setString(head.row, head.column, *t, &error)) {
            ok = false;
            break;
        }
    }
    if (!ok && !quiet)
        qWarning().noquote() << "Range.Replace:" << path << error;
    return ok;
}

bool writeDeferredIntoCells(xlsx::Document *doc, const QString &path, int sheet,
                            const QHash<int, QString> &texts)
{
    QString error;
    xlsx::Worksheet *ws = doc->worksheet(sheet, &error);
    if (ws && ws->isWindowed()) {
        // Written as the save writes the sheet, a window of rows at a time.
        ws->addWindowEdit([path, texts](xlsx::Worksheet *window) {
            writeTextsIntoCells(window, path, texts, window->isLookAhead());
        });
        return true;
    }
    if (!ws) {
        qWarning().noquote() << "Range.Replace:" << path << error;
        return false;
    }
    return writeTextsIntoCells(ws, path, texts);
}

bool settleDeferred(xlsx::Document *doc, const QString &path, DeferredTexts *deferred)
{
    if (deferred->empty())
        return true;
    DeferredTexts pending;
    pending.swap(*deferred);
    // Which sheets refer to each held string.
    QHash<int, std::vector<int>> referrers;
    for (const auto &d : pending)
        for (auto it = d.second.constBegin(); it != d.second.constEnd(); ++it)
            referrers.insert(it.key(), {});
    for (int s = 0; s < doc->sheetCount(); ++s) {
        if (doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
            continue;
        QString error;
        const xlsx::Worksheet *ws = doc->worksheet(s, &error);
        if (!ws) {
            // Its cells unknown, it may refer to any: none is settled in place.
            for (auto it = referrers.begin(); it != referrers.end(); ++it)
                it->push_back(s);
            continue;
        }
        forEachSharedRef(ws, [&](int sst) {
            const auto it = referrers.find(sst);
            if (it != referrers.end() && (it->empty() || it->back() != s))
                it->push_back(s);
        });
    }
    std::vector<std::pair<int, QString>> agreed;
    std::map<int, QHash<int, QString>> intoCells;
    for (auto it = referrers.constBegin(); it != referrers.constEnd(); ++it) {
        const int sst = it.key();
        const QString *text = nullptr;
        bool same = !it->empty();
        for (int s : *it) {
            const auto d = pending.find(s);
            const QString *mine = nullptr;
            if (d != pending.end()) {
                const auto t = d->second.constFind(sst);
                if (t != d->second.constEnd())
                    mine = &*t;
            }
            if (!mine || (text && *mine != *text)) {
                same = false;
                break;
            }
            text = mine;
        }
        if (same) {
            agreed.emplace_back(sst, *text);
            continue;
        }
        for (const auto &d : pending) {
            const auto t = d.second.constFind(sst);
            if (t != d.second.constEnd())
                intoCells[d.first].insert(sst, *t);
        }
    }
    bool ok = true;
    for (const auto &c : intoCells)
        ok = writeDeferredIntoCells(doc, path, c.first, c.second) && ok;
    QString error;
    if (!doc->setSharedStrings(agreed, &error)) {
        // Then every one goes into the cells.
        qWarning().noquote() << "Range.Replace:" << path << error;
        std::map<int, QHash<int, QString>> rest;
        for (const auto &a : agreed)
            for (const auto &d : pending)
                if (d.second.contains(a.first))
                    rest[d.first].insert(a.first, a.second);
        for (const auto &c : rest)
            ok = writeDeferredIntoCells(doc, path, c.first, c.second) && ok;
    }
    return ok;
}

} // namespace embedded
