#include "ui/savefailure.h"

#include <QFileInfo>
#include <QStorageInfo>

QString saveFailureReason(const QString &path)
{
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists())
        return QStringLiteral("保存位置的文件夹不存在。");
    if (!folder.isDir())
        return QStringLiteral("保存位置不是文件夹。");
    if (target.isDir())
        return QStringLiteral("已有同名的文件夹。");
    if (!folder.isWritable())
        return QStringLiteral("没有写入该文件夹的权限（文件夹只读或受保护）。");
    if (target.exists() && !target.isWritable())
        return QStringLiteral("原文件是只读的，不能替换。");
    const QStorageInfo disk(folder.absoluteFilePath());
    if (disk.isValid() && disk.bytesAvailable() < 64 * 1024)
        return QStringLiteral("磁盘空间不足。");
    return QStringLiteral("无法写入该文件（可能正被其他程序使用）。");
}
