// The job of one spreadsheet file.
#pragma once

#include "engine/param.h"
#include "engine/state.h"

#include <QObject>
#include <QString>

class Rep : public QObject
{
    Q_OBJECT
public:
    Rep(QString filePath, Param par, int index, QObject *parent = nullptr);
    ~Rep() override;

    // Does the whole work of the file on the calling thread, which must be a
    // worker thread outside any apartment. Ends with exactly one done().
    void run();

    // Why the listed file at `path` cannot be worked on before it is opened: it does not
    // exist, it is a symbolic link to nothing, or it is not a regular file. Empty when it is
    // a regular file.
    static QString unreachableReason(const QString &path);

    QString filePath;
    Param par;
    int index;

signals:
    void done(Rep *rep, STATE state, int index);
};
