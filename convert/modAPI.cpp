#include "modAPI.h"

#include <QTimeZone>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace modAPI {
namespace {

TimeZoneInformation SystemTimeZoneAt(const QDateTime &localTime)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime at(localTime.date(), localTime.time(), zone);
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

Seam<void(const QString &)> WriteErrorLine{[](const QString &line) {
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
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
