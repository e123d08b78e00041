// The settings file at size: loading a 10 MB Norvale.ini of foreign lines, reading what start-up
// reads and saving what closing writes, beside a floor measured in the same run: reading the
// file and finding its line breaks. Memory is the growth of the heap while the file is loaded,
// as a multiple of the file's size.
#include "platform/IniProfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <vector>

namespace {

constexpr qsizetype kSize = 10 * 1024 * 1024;
// Keeps the floor's count from being optimised away.
volatile qsizetype g_nLines = 0;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What start-up reads and what closing writes.
void startAndClose(const QString &path)
{
    IniProfile profile(path);
    profile.readInt(QStringLiteral("Common"), QStringLiteral("Folder"), 0);
    profile.readInt(QStringLiteral("Common"), QStringLiteral("Mode"), 1);
    for (const char *section : {"Original", "Convert"}) {
        profile.readInt(QString::fromLatin1(section), QStringLiteral("Ext"), 0);
        for (int i = 0; i < 10; ++i)
            profile.readString(QString::fromLatin1(section), QStringLiteral("Folder#%1").arg(i));
    }
    profile.writeString(QStringLiteral("Common"), QStringLiteral("Mode"), QStringLiteral("0"));
    for (int i = 0; i < 10; ++i)
        profile.writeString(QStringLiteral("Convert"), QStringLiteral("Folder#%1").arg(i),
                            QStringLiteral("/home/user/out"));
    if (!profile.save())
        qFatal("cannot save %s", qPrintable(path));
}

qsizetype floorPass(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    const QByteArray data = file.readAll();
    qsizetype lines = 0;
    for (const char *p = data.constData(), *end = p + data.size();
         (p = static_cast<const char *>(memchr(p, '\n', size_t(end - p)))); ++p)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const struct
    {
        const char *name;
        QByteArray line;
    } shapes[] = {{"blank", "\n"},
                  {"keys", "Key=value\n"},
                  {"comments", "; a comment line\n"},
                  {"sections", "[s]\n"}};
    for (const auto &shape : shapes) {
        QByteArray data = "[Common]\nMode=1\n";
        while (data.size() < kSize)
            data += shape.line;
        data += "[Original]\nFolder#0=/home/user/drawings\n";
        const QString path = dir.filePath(QString::fromLatin1(shape.name) + QStringLiteral(".ini"));
        std::vector<double> floorMs, runMs;
        for (int round = 0; round < 5; ++round) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(data) != data.size())
                qFatal("cannot write %s", qPrintable(path));
            file.close();
            QElapsedTimer timer;
            timer.start();
            g_nLines += floorPass(path);
            floorMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            timer.restart();
            startAndClose(path);
            runMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        const size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        const IniProfile profile(path);
        const size_t used = mallinfo2().uordblks + mallinfo2().hblkhd - before;
        printf("%s_floor_ms %.1f\n%s_start_close_ms %.1f\n%s_ratio %.2f\n%s_memory_per_file_byte "
               "%.2f\n",
               shape.name, median(floorMs), shape.name, median(runMs), shape.name,
               median(runMs) / median(floorMs), shape.name, double(used) / double(data.size()));
    }
    return 0;
}
