// Replace calls carried out on the shared strings themselves: when every cell
// of the workbook that refers to a shared string would come out of the calls
// with the same text, that string is given the text once and its cells stay
// as they are stored, so a sheet whose changes are all of that kind is copied
// into the saved file untouched.
#pragma once

#include <QHash>
#include <QString>

#include <map>
#include <vector>

namespace xlsx {
class Document;
} // namespace xlsx

namespace embedded {

struct ReplaceCall;

// By shared string, the one worksheet whose cells refer to it. Cells only ever stop
// referring to a shared string (edited cells hold their text inline), so what is learnt
// once stays true for the workbook's life.
class SharedOwners
{
public:
    enum : int
    {
        None = -1,
        Several = -2,
    };
    // Learns the owners on first use; false when some sheet's cells cannot be known.
    bool ensure(xlsx::Document *doc);
    int owner(int sharedString) const
    {
        return size_t(sharedString) < m_owner.size() ? m_owner[size_t(sharedString)] : Several;
    }

private:
    bool m_known = false;
    bool m_ok = false;
    std::vector<int> m_owner;
};

// The texts that calls applied at once gave to shared strings that other sheets refer to
// too: by sheet, by shared string. They become the strings' own when every sheet that
// refers to one gives it the same text, or else go into the referring cells.
using DeferredTexts = std::map<int, QHash<int, QString>>;

// Applies `call` at once, to the shared strings of its sheet, when the sheet's cells are not
// held and hold plain values only (shared strings, and numbers the call cannot match), and
// every string the call changes is referred to in one style and stays text: strings of this
// sheet alone are changed in place, others in `deferred`. Returns 1 when it changed some, 0
// when it matches nothing, -1 when it cannot be done so (then nothing was changed).
int replaceInOwnStrings(xlsx::Document *doc, const QString &path, const ReplaceCall &call,
                        SharedOwners *owners, DeferredTexts *deferred);

// Settles `deferred` (then empty): each string every referring sheet gave the same text
// takes it; the cells of the other strings take their sheet's text. False (and warnings)
// when a sheet cannot be written.
bool settleDeferred(xlsx::Document *doc, const QString &path, DeferredTexts *deferred);
// Writes the deferred texts of one sheet into its cells (the sheet is read for that).
bool writeDeferredIntoCells(xlsx::Document *doc, const QString &path, int sheet,
                            const QHash<int, QString> &texts);

// Applies `calls` (queued on any sheets, in their order) to the shared strings whose every
// referring cell takes them alike, as text. Returns, by shared string, whether it was done
// that way: the cells that refer to it need nothing more. Any other shared string is left
// as it is, for the calls to be applied cell by cell.
std::vector<bool> replaceInSharedStrings(xlsx::Document *doc, const QString &path,
                                         const std::vector<ReplaceCall *> &calls);

} // namespace embedded
