// A scripted automation server registered as "Excel.Application" in place of
// the embedded one. It records every call and can be told to fail at any
// member, so that the job's failure endings can be reached.
#pragma once

#include "automation/dispatch.h"

#include <QMutex>
#include <QSet>
#include <QStringList>

struct FakeScript
{
    int sheetCount = 3;
    int activeSheet = 2;        // 1-based
    QSet<QString> failing;      // members that fail: "Workbooks", "Open", "Item", ...
    QSet<int> failingItems;     // sheet numbers whose Item fails
    QSet<QString> refusedCells; // references whose Range fails
    bool saveResult = true;
    bool refuseValue = false;
};

class FakeServer
{
public:
    // Registers the fake as "Excel.Application"; the destructor restores the
    // built-in server.
    explicit FakeServer(const FakeScript &script);
    ~FakeServer();

    QStringList calls() const; // "Application.Visible=false", "Sheets.Item(2)", ...
    int instances() const;
    void record(const QString &call);

    FakeScript script;

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    int m_instances = 0;
};
