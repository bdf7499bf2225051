// Replace calls carried out on the shared strings themselves: when every cell
// of the workbook that refers to a shared string would come out of the calls
// with the same text, that string is given the text once and its cells stay
// as they are stored, so a sheet whose changes are all of that kind is copied
// into the saved file untouched.
#pragma once

#include <QString>

#include <vector>

namespace xlsx {
class Document;
} // namespace xlsx

namespace sheetapp {

struct ReplaceCall;

// Applies `calls` (queued on any sheets, in their order) to the shared strings whose every
// referring cell takes them alike, as text. Returns, by shared string, whether it was done
// that way: the cells that refer to it need nothing more. Any other shared string is left
// as it is, for the calls to be applied cell by cell.
std::vector<bool> replaceInSharedStrings(xlsx::Document *doc, const QString &path,
                                         const std::vector<ReplaceCall *> &calls);

} // namespace sheetapp
