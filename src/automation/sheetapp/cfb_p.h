// Reading streams of an OLE2 compound file (the container of .xls files).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sheetapp::cfb {

// True when `head` starts with the compound file signature.
bool hasSignature(const QByteArray &head);

// Reads at most `limit` bytes of the first stream among `names` that is a
// direct child of the root storage. False with *error when the file is no
// compound file, is damaged, or has none of the streams; *found is the name
// of the stream read.
bool readRootStream(const QString &path, const QStringList &names, qint64 limit, QByteArray *stream,
                    QString *found, QString *error);

} // namespace sheetapp::cfb
