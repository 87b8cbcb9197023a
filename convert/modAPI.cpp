#include "convert/modAPI.h"

#include <QTimeZone>

#include <chrono>
#include <cstdio>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#else
#include <io.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace modAPI {
namespace {

// The moment whose zone data apply to a wall-clock time: the moment it
// stands for. In the hour that an autumn change repeats, and in the hour
// that a spring change skips, the clock is read with the zone as it was
// before the change, as calendars commonly do: in Central Europe a repeated
// 02:30 is its first occurrence, 00:30 UTC, and a skipped 02:30 is 01:30 UTC.
QDateTime MomentOfWallClock(const QTimeZone &zone, const QDateTime &wallClock)
{
    // No zone is a day away from UTC, and none changes its clocks twice a day.
    constexpr qint64 Day = 86400;
    const qint64 wall = QDateTime(wallClock.date(), wallClock.time(), Qt::UTC).toSecsSinceEpoch();
    const QDateTime dayBefore = QDateTime::fromSecsSinceEpoch(wall - Day, Qt::UTC);
    for (const QDateTime &side : {dayBefore, QDateTime::fromSecsSinceEpoch(wall + Day, Qt::UTC)}) {
        const int offset = zone.offsetFromUtc(side);
        const QDateTime moment = QDateTime::fromSecsSinceEpoch(wall - offset, Qt::UTC);
        if (zone.offsetFromUtc(moment) == offset)
            return moment;
    }
    return dayBefore;
}

TimeZoneInformation SystemTimeZoneAt(const QDateTime &wallClock)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime at = MomentOfWallClock(zone, wallClock);
    TimeZoneInformation info;
    info.Bias = -zone.standardTimeOffset(at) / 60;
    info.HasDaylightRule = zone.hasDaylightTime();
    if (!info.HasDaylightRule)
        return info;
    if (zone.isDaylightTime(at)) {
        info.Id = TimeZoneId::Daylight;
        info.DaylightBias = -zone.daylightTimeOffset(at) / 60;
    } else {
        info.Id = TimeZoneId::Standard;
    }
    return info;
}

} // namespace

Seam<TimeZoneInformation(const QDateTime &)> GetTimeZoneInformation{SystemTimeZoneAt};

Seam<void(const QString &, const QString &)> ShowInformation{[](const QString &, const QString &) {}};

Seam<void(const QString &)> WriteErrorText{[](const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}};

Seam<void(const QString &)> WriteErrorLine{[](const QString &line) { WriteErrorText(line + u'\n'); }};

Seam<bool()> StandardErrorIsTerminal{[] {
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    return _isatty(_fileno(stderr)) != 0;
#endif
}};

Seam<qint64()> SteadyMilliseconds{[] {
    return qint64(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}};

Seam<void(const QString &)> WriteOutput{[](const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}};

Seam<void(int)> Sleep{[](int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }};

Seam<QString()> TransferFolder{[] {
#ifdef Q_OS_WIN
    return u"c:\\quorvane\\data\\transfer\\"_s;
#else
    return u"/quorvane/data/transfer/"_s;
#endif
}};

} // namespace modAPI
