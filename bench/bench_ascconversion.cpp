// Converts a synthetic acquisition and compares the time with the floor: the
// same writer putting the same number of bytes from memory into a file. Each
// is measured twice: as far as the page cache, and with the file on disk.
// POSIX only (getrusage, fsync).
//
//   bench_ascconversion [spectra] [points] [runs]
//
// With 0 runs it converts once, unmeasured: for peak memory under
// /usr/bin/time -v.

#include "bench/SyntheticComponent.h"
#include "convert/AscConversion.h"
#include "convert/BatchMode.h"
#include "convert/TextFileWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Timing
{
    double wall = 0;
    double user = 0;
    double system = 0;
};

Timing CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {0, seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

Timing Measure(const std::function<void()> &work)
{
    const Timing before = CpuSeconds();
    QElapsedTimer timer;
    timer.start();
    work();
    const Timing after = CpuSeconds();
    return {double(timer.nsecsElapsed()) / 1e9, after.user - before.user, after.system - before.system};
}

void SyncToDisk(const QString &path)
{
    const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (file >= 0) {
        ::fsync(file);
        ::close(file);
    }
}

// Lines like the converted ones, repeated until `bytes` are written.
void WriteFromMemory(const QString &path, qint64 bytes)
{
    std::string chunk;
    while (chunk.size() < (1 << 16))
        chunk += "1234.567\t123456.7\r\n";
    TextFileWriter writer(path);
    for (qint64 left = bytes; left > 0; left -= qint64(chunk.size()))
        writer.Write(std::string_view(chunk).substr(0, size_t(std::min<qint64>(left, qint64(chunk.size())))));
    writer.Close();
}

int Argument(const QStringList &arguments, int index, int standard)
{
    return arguments.size() > index ? arguments[index].toInt() : standard;
}

struct Spread
{
    double best = 1e300;
    double worst = 0;
    void add(double value)
    {
        best = std::min(best, value);
        worst = std::max(worst, value);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    SyntheticAcquisition acquisition;
    acquisition.spectra = Argument(arguments, 1, acquisition.spectra);
    acquisition.points = Argument(arguments, 2, acquisition.points);
    const int runs = Argument(arguments, 3, 3);

    BatchMode = true;
    SyntheticComponent component(acquisition);
    const qint64 points = component.writtenPoints();
    QTemporaryDir folder;
    const QString rawPath = folder.filePath(u"bench.raw"_s);
    const QString ascPath = folder.filePath(u"bench.asc"_s);
    const QString floorPath = folder.filePath(u"floor.asc"_s);
    const auto convert = [&] {
        SampleHeader header;
        if (!ConvertRawFile(rawPath, u"N"_s, header, 1))
            std::printf("conversion failed\n");
    };
    std::printf("%d spectra x %d points, %lld points written, %d runs\n", acquisition.spectra, acquisition.points,
                static_cast<long long>(points), runs);

    // The first file written takes pages the page cache has never held,
    // which costs more than the writing: both measures start after it.
    convert();
    const qint64 bytes = QFileInfo(ascPath).size();
    QFile::remove(ascPath);
    std::printf("%.0f MB written per conversion\n", double(bytes) / 1e6);
    if (runs < 1)
        return 0;

    Spread conversion, floor, conversionOnDisk, floorOnDisk;
    for (int run = 1; run <= runs; ++run) {
        const Timing c = Measure(convert);
        QFile::remove(ascPath);
        const Timing f = Measure([&] { WriteFromMemory(floorPath, bytes); });
        QFile::remove(floorPath);
        const Timing cd = Measure([&] { convert(), SyncToDisk(ascPath); });
        QFile::remove(ascPath);
        const Timing fd = Measure([&] { WriteFromMemory(floorPath, bytes), SyncToDisk(floorPath); });
        QFile::remove(floorPath);
        std::printf("run %d: conversion %.3f s (user %.3f s, system %.3f s), %.1f M points/s, %.0f MB/s; "
                    "floor %.3f s (user %.3f s, system %.3f s); ratio %.2f | on disk: conversion %.3f s, "
                    "floor %.3f s, ratio %.2f\n",
                    run, c.wall, c.user, c.system, double(points) / c.wall / 1e6, double(bytes) / c.wall / 1e6, f.wall,
                    f.user, f.system, c.wall / f.wall, cd.wall, fd.wall, cd.wall / fd.wall);
        conversion.add(c.wall);
        floor.add(f.wall);
        conversionOnDisk.add(cd.wall);
        floorOnDisk.add(fd.wall);
    }
    std::printf("page cache: conversion best %.3f s (worst %.3f) = %.1f M points/s, %.0f MB/s; "
                "floor best %.3f s (worst %.3f); ratio of the bests %.2f\n",
                conversion.best, conversion.worst, double(points) / conversion.best / 1e6,
                double(bytes) / conversion.best / 1e6, floor.best, floor.worst, conversion.best / floor.best);
    std::printf("on disk:    conversion best %.3f s (worst %.3f); floor best %.3f s (worst %.3f); "
                "ratio of the bests %.2f\n",
                conversionOnDisk.best, conversionOnDisk.worst, floorOnDisk.best, floorOnDisk.worst,
                conversionOnDisk.best / floorOnDisk.best);
    return 0;
}
