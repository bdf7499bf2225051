#include "engine/rep.h"

Rep::Rep(QString filePath, Param par, int index, QObject *parent)
    : QObject(parent), filePath(std::move(filePath)), par(std::move(par)), index(index)
{
}

Rep::~Rep() = default;

void Rep::run()
{
    emit done(this, FAIL, index);
}
