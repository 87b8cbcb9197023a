#include "convert/DateValue.h"
#include "convert/Errors.h"
#include "convert/RegionalSettings.h"
#include "convert/modAPI.h"
#include "convert/modTimeZone.h"
#include "tests/fake/ScopedReplacement.h"

#include <QTest>

#include <cmath>

using namespace Qt::Literals::StringLiterals;
using modAPI::TimeZoneId;
using modAPI::TimeZoneInformation;

Q_DECLARE_METATYPE(TimeZoneInformation)

class TestTimeZone : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void injectionTime_data();
    void injectionTime();
    void zoneIsAskedForTheConvertedDate();
    void overflowFails_data();
    void overflowFails();
    void realDaylightZoneFollowsTheDate_data();
    void realDaylightZoneFollowsTheDate();
};

static TimeZoneInformation Zone(TimeZoneId id, qint32 bias, bool rule = false, qint32 daylightBias = 0,
                                qint32 standardBias = 0)
{
    TimeZoneInformation zone;
    zone.Id = id;
    zone.Bias = bias;
    zone.HasDaylightRule = rule;
    zone.DaylightBias = daylightBias;
    zone.StandardBias = standardBias;
    return zone;
}

void TestTimeZone::injectionTime_data()
{
    QTest::addColumn<TimeZoneInformation>("zone");
    QTest::addColumn<double>("dateValue");
    QTest::addColumn<QString>("text");

    const auto central = Zone(TimeZoneId::Unknown, -60);
    const auto centralSummer = Zone(TimeZoneId::Daylight, -60, true, -60);
    QTest::newRow("no daylight rule") << central << 38061.43283564815 << u"1079342597"_s;
    QTest::newRow("daylight in force") << centralSummer << 38061.43283564815 << u"1079338997"_s;
    QTest::newRow("rounding error hidden") << centralSummer << 38169.604166666664 << u"1088685000"_s;
    QTest::newRow("west of Greenwich") << Zone(TimeZoneId::Standard, 300) << 25569.0 << u"18000"_s;
    QTest::newRow("epoch at UTC") << Zone(TimeZoneId::Unknown, 0) << 25569.0 << u"0"_s;
    QTest::newRow("before 1970") << Zone(TimeZoneId::Unknown, 0) << 25568.0 << u"-86400"_s;
    QTest::newRow("standard bias ignored")
        << Zone(TimeZoneId::Standard, -60, true, -60, 120) << 38061.43283564815 << u"1079342597"_s;
    QTest::newRow("daylight id without rule")
        << Zone(TimeZoneId::Daylight, -60, false, -60) << 38061.43283564815 << u"1079342597"_s;
    QTest::newRow("invalid id") << Zone(TimeZoneId::Invalid, -60, true, -60) << 38061.43283564815 << u"1079342597"_s;
}

void TestTimeZone::injectionTime()
{
    QFETCH(TimeZoneInformation, zone);
    QFETCH(double, dateValue);
    QFETCH(QString, text);
    ScopedReplacement replaced(modAPI::GetTimeZoneInformation, [zone](const QDateTime &) { return zone; });

    QCOMPARE(NumberToText(OleDateToEpochSeconds(dateValue)), text);
}

void TestTimeZone::zoneIsAskedForTheConvertedDate()
{
    QDateTime asked;
    ScopedReplacement replaced(modAPI::GetTimeZoneInformation, [&](const QDateTime &at) {
        asked = at;
        return TimeZoneInformation{};
    });
    OleDateToEpochSeconds(38061.43283564815);
    QCOMPARE(asked.date(), QDate(2004, 3, 15));
    QCOMPARE(asked.time(), QTime(10, 23, 17));
}

void TestTimeZone::overflowFails_data()
{
    QTest::addColumn<TimeZoneInformation>("zone");
    QTest::addColumn<double>("dateValue");

    QTest::newRow("bias") << Zone(TimeZoneId::Unknown, 40000000) << 25569.0;
    QTest::newRow("daylight bias") << Zone(TimeZoneId::Daylight, 0, true, 40000000) << 25569.0;
    QTest::newRow("date out of range") << Zone(TimeZoneId::Unknown, 0) << 1e300;
    QTest::newRow("not a number") << Zone(TimeZoneId::Unknown, 0) << std::nan("");
    QTest::newRow("last day of year 99") << Zone(TimeZoneId::Unknown, 0) << -657435.5;
}

void TestTimeZone::overflowFails()
{
    QFETCH(TimeZoneInformation, zone);
    QFETCH(double, dateValue);
    ScopedReplacement replaced(modAPI::GetTimeZoneInformation, [zone](const QDateTime &) { return zone; });
    try {
        OleDateToEpochSeconds(dateValue);
        QFAIL("no failure");
    } catch (const Error &error) {
        QCOMPARE(error.number(), ErrorNumber::Overflow);
    }
}

void TestTimeZone::realDaylightZoneFollowsTheDate_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<qint32>("offset");
    // Run under TZ=Europe/Berlin: the offset belongs to the date converted,
    // whatever the season on the day the test runs.
    QTest::newRow("January") << QDate(2021, 1, 15) << QTime(12, 0) << 3600;
    QTest::newRow("July") << QDate(2021, 7, 15) << QTime(12, 0) << 7200;
    QTest::newRow("winter 1990") << QDate(1990, 12, 1) << QTime(12, 0) << 3600;
    // Around a change the clock is read with the offset in force before it.
    QTest::newRow("skipped spring hour") << QDate(2004, 3, 28) << QTime(2, 30) << 3600;
    QTest::newRow("after the spring change") << QDate(2004, 3, 28) << QTime(3, 0) << 7200;
    QTest::newRow("repeated autumn hour") << QDate(2004, 10, 31) << QTime(2, 30) << 7200;
    QTest::newRow("after the autumn change") << QDate(2004, 10, 31) << QTime(3, 0) << 3600;
}

void TestTimeZone::realDaylightZoneFollowsTheDate()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(qint32, offset);
    const double value = DateValueOfDateTime(date, time);
    QCOMPARE(UtcOffsetSeconds(value), offset);
    QCOMPARE(OleDateToEpochSeconds(value), double(QDateTime(date, time, Qt::UTC).toSecsSinceEpoch() - offset));
}

QTEST_APPLESS_MAIN(TestTimeZone)
#include "tst_timezone.moc"
