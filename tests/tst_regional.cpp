#include "convert/DateValue.h"
#include "convert/Errors.h"
#include "convert/FixedFormat.h"
#include "convert/RegionalSettings.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

class TestRegional : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void dateToText_data();
    void dateToText();
    void dateTextInEveryLocale_data();
    void dateTextInEveryLocale();
    void textToDate_refuses_data();
    void textToDate_refuses();
    void numberToText_data();
    void numberToText();
    void numeric_data();
    void numeric();
    void fixedFormat_data();
    void fixedFormat();
    void fixedFormat_agreesWithPrintfAwayFromTies();
};

static double DateValue(int y, int m, int d, int h = 0, int min = 0, int s = 0)
{
    return DateValueOfDateTime(QDate(y, m, d), QTime(h, min, s));
}

void TestRegional::dateToText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("de") << u"de_DE"_s << 38061.43283564815 << u"15.03.2004 10:23:17"_s;
    QTest::newRow("en-US") << u"en_US"_s << 38061.43283564815 << u"3/15/2004 10:23:17 AM"_s;
    QTest::newRow("en-US afternoon") << u"en_US"_s << DateValue(2004, 7, 1, 14, 30) << u"7/1/2004 2:30:00 PM"_s;
    QTest::newRow("de midnight") << u"de_DE"_s << DateValue(2004, 3, 15) << u"15.03.2004"_s;
    QTest::newRow("en-US midnight") << u"en_US"_s << DateValue(2004, 3, 15) << u"3/15/2004"_s;
    QTest::newRow("de origin day") << u"de_DE"_s << DateValue(1899, 12, 30, 10, 23, 17) << u"10:23:17"_s;
    QTest::newRow("de value 0") << u"de_DE"_s << 0.0 << u"00:00:00"_s;
    QTest::newRow("de before 1970") << u"de_DE"_s << DateValue(1950, 6, 1, 8, 0, 1) << u"01.06.1950 08:00:01"_s;
    QTest::newRow("de before 1899") << u"de_DE"_s << DateValue(1850, 6, 1, 6, 0) << u"01.06.1850 06:00:00"_s;
    QTest::newRow("negative value") << u"de_DE"_s << -1.25 << u"29.12.1899 06:00:00"_s;
    QTest::newRow("rounded to the second")
        << u"de_DE"_s << DateValue(2004, 3, 15, 23, 59, 59) + 0.9 / 86400 << u"16.03.2004"_s;
    QTest::newRow("first day of year 100") << u"de_DE"_s << DateValue(100, 1, 1, 6, 0) << u"01.01.0100 06:00:00"_s;
    // The test runs in Central European time: a wall-clock time that the
    // spring change skips is a date like any other.
    QTest::newRow("de skipped spring hour") << u"de_DE"_s << DateValue(2004, 3, 28, 2, 30) << u"28.03.2004 02:30:00"_s;
    QTest::newRow("en-US skipped spring hour")
        << u"en_US"_s << DateValue(2004, 3, 28, 2, 30) << u"3/28/2004 2:30:00 AM"_s;
    QTest::newRow("ca zone in brackets") << u"ca_ES"_s << 38061.43283564815 << u"15/3/2004 10:23:17"_s;
    QTest::newRow("zh-CN zone first") << u"zh_CN"_s << 38061.43283564815 << u"2004/3/15 10:23:17"_s;
    // Words for the time of day that Qt's parser misreads, or that lead the time.
    QTest::newRow("ee word first") << u"ee_GH"_s << 38061.43283564815 << u"3/15/2004 \u014ADI ga 10:23:17"_s;
    QTest::newRow("brx afternoon") << u"brx_IN"_s << DateValue(2004, 7, 1, 14, 30)
                                   << u"2004-07-01 \u092C\u0947\u0932\u093E\u0938\u0947 2:30:00"_s;
    // Digits beyond the basic plane, which Qt cannot read: ASCII instead.
    QTest::newRow("ccp digits") << u"ccp_BD"_s << DateValue(2004, 7, 1, 14, 30) << u"1/7/2004 2:30:00 PM"_s;
}

void TestRegional::dateToText()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(locale));

    QCOMPARE(DateToText(value), text);
    QCOMPARE(std::llround(TextToDate(text) * 86400), std::llround(value * 86400));
}

void TestRegional::dateTextInEveryLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    for (const QLocale &locale :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
        const QString name = QLocale::languageToCode(locale.language()) + u'_' + QLocale::scriptToCode(locale.script())
                           + u'_' + QLocale::territoryToCode(locale.territory());
        QTest::newRow(qPrintable(name)) << locale;
    }
}

// No trace of the zone is left, and the text reads back to the second in
// every locale, morning and afternoon, midnight and noon. No locale is
// known to fail.
void TestRegional::dateTextInEveryLocale()
{
    QFETCH(QLocale, locale);
    QLocale::setDefault(locale);
    static const QRegularExpression zoneLeftover(u"\\(\\s*\\)|\\[\\s*\\]|^[\\s,]|[\\s,]$"_s);
    for (const QTime &time : {QTime(10, 23, 17), QTime(14, 30, 5), QTime(0, 0, 1), QTime(12, 59, 59)}) {
        const double value = DateValue(2004, 3, 15, time.hour(), time.minute(), time.second());
        const QString text = DateToText(value);
        QVERIFY2(!text.contains(zoneLeftover), qPrintable(text));
        QCOMPARE(TextToDate(text), value);
    }
}

void TestRegional::textToDate_refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << u"abc"_s;
    QTest::newRow("no such day") << u"31.02.2004 10:00:00"_s;
    QTest::newRow("other locale's form") << u"3/15/2004 10:23:17 AM"_s;
}

void TestRegional::textToDate_refuses()
{
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(u"de_DE"_s));
    try {
        TextToDate(text);
        QFAIL("a date was read");
    } catch (const Error &error) {
        QCOMPARE(error.number(), ErrorNumber::TypeMismatch);
    }
}

void TestRegional::numberToText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole") << u"en_US"_s << 1079342597.0 << u"1079342597"_s;
    QTest::newRow("15 digits hide the rounding error") << u"en_US"_s << 1088684999.9999998 << u"1088685000"_s;
    QTest::newRow("negative") << u"de_DE"_s << -86400.0 << u"-86400"_s;
    QTest::newRow("zero") << u"de_DE"_s << 0.0 << u"0"_s;
    QTest::newRow("negative zero") << u"de_DE"_s << -0.0 << u"0"_s;
    QTest::newRow("de fraction, no grouping") << u"de_DE"_s << 1234567.25 << u"1234567,25"_s;
    QTest::newRow("en fraction") << u"en_US"_s << 0.5 << u"0.5"_s;
    QTest::newRow("large") << u"en_US"_s << 1e20 << u"1E+20"_s;
    // The locale's own digits and minus sign would not be read downstream.
    QTest::newRow("ar-EG digits") << u"ar_EG"_s << 1079346197.0 << u"1079346197"_s;
    QTest::newRow("ar-EG separator") << u"ar_EG"_s << 0.5 << u"0\u066B5"_s;
    QTest::newRow("sv minus") << u"sv_SE"_s << -315619200.0 << u"-315619200"_s;
}

void TestRegional::numberToText()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(NumberToText(value), text);
}

void TestRegional::numeric_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");

    QTest::newRow("one") << u"en_US"_s << u"1"_s << true << 1.0;
    QTest::newRow("blanks around") << u"en_US"_s << u" 2 "_s << true << 2.0;
    QTest::newRow("exponent") << u"en_US"_s << u"1e3"_s << true << 1000.0;
    QTest::newRow("minus") << u"en_US"_s << u"-1"_s << true << -1.0;
    QTest::newRow("plus and fraction") << u"en_US"_s << u"+0.5"_s << true << 0.5;
    QTest::newRow("de decimal comma") << u"de_DE"_s << u"1,5"_s << true << 1.5;
    QTest::newRow("de group dot") << u"de_DE"_s << u"1.5"_s << false << 0.0;
    QTest::newRow("en grouping") << u"en_US"_s << u"1,000"_s << false << 0.0;
    QTest::newRow("empty") << u"en_US"_s << QString() << false << 0.0;
    QTest::newRow("blank") << u"en_US"_s << u" "_s << false << 0.0;
    QTest::newRow("letters") << u"en_US"_s << u"abc"_s << false << 0.0;
    QTest::newRow("trailing letters") << u"en_US"_s << u"2x"_s << false << 0.0;
    QTest::newRow("infinity") << u"en_US"_s << u"inf"_s << false << 0.0;
    QTest::newRow("not a number") << u"en_US"_s << u"nan"_s << false << 0.0;
    QTest::newRow("too large") << u"en_US"_s << u"1e999"_s << false << 0.0;
}

void TestRegional::numeric()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    QLocale::setDefault(QLocale(locale));

    QCOMPARE(IsNumeric(text), numeric);
    try {
        QCOMPARE(TextToNumber(text), value);
        QVERIFY(numeric);
    } catch (const Error &error) {
        QVERIFY(!numeric);
        QCOMPARE(error.number(), ErrorNumber::TypeMismatch);
    }
}

static QString Fixed(double value, int decimals, std::string_view separator = ".")
{
    char buffer[FixedFormatCapacity];
    const char *end = FormatFixed(buffer, value, decimals, separator);
    return QString::fromUtf8(buffer, end - buffer);
}

void TestRegional::fixedFormat_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");

    QTest::newRow("minutes as seconds") << 2190.0 << 3 << u"2190.000"_s;
    QTest::newRow("mass") << 445.12 << 3 << u"445.120"_s;
    QTest::newRow("intensity") << 1520.46 << 1 << u"1520.5"_s;
    QTest::newRow("scaled") << 152.046 << 1 << u"152.0"_s;
    QTest::newRow("below half") << 0.04 << 1 << u"0.0"_s;
    QTest::newRow("half") << 0.05 << 1 << u"0.1"_s;
    QTest::newRow("negative") << -1520.46 << 1 << u"-1520.5"_s;
    QTest::newRow("negative to zero") << -0.04 << 1 << u"-0.0"_s;
    QTest::newRow("exact binary tie") << 1520.25 << 1 << u"1520.3"_s;
    QTest::newRow("decimal tie") << 2.6745 << 3 << u"2.675"_s;
    QTest::newRow("smallest step") << 0.0005 << 3 << u"0.001"_s;
    QTest::newRow("carry into new digit") << 999.9996 << 3 << u"1000.000"_s;
    QTest::newRow("carry below one") << 0.99996 << 3 << u"1.000"_s;
    QTest::newRow("zero") << 0.0 << 3 << u"0.000"_s;
    QTest::newRow("denormal") << 5e-324 << 3 << u"0.000"_s;
    QTest::newRow("beyond 15 digits") << 123456789.123456789 << 3 << u"123456789.123"_s;
    QTest::newRow("huge") << 1e20 << 1 << u"100000000000000000000.0"_s;
}

void TestRegional::fixedFormat()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(Fixed(value, decimals), text);
    QCOMPARE(Fixed(value, decimals, ","), QString(text).replace(u'.', u','));
}

void TestRegional::fixedFormat_agreesWithPrintfAwayFromTies()
{
    // Away from a rounding tie, rounding the 15 significant digits and the
    // exact binary value must agree; printf does the latter.
    QRandomGenerator random(20261208);
    for (int i = 0; i < 200000; ++i) {
        const double magnitude = std::pow(10.0, -4.0 + 16.0 * random.generateDouble());
        const double value = (random.generateDouble() - 0.3) * magnitude;
        for (int decimals : {1, 3}) {
            const double scaled = std::fabs(value) * std::pow(10.0, decimals);
            const double distanceToTie = std::fabs(scaled - std::floor(scaled) - 0.5);
            // Rounding to 15 digits first moves the value by up to half a
            // unit of its 15th digit.
            const double fifteenDigitStep = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 14 + decimals);
            if (distanceToTie < fifteenDigitStep + 1e-9 || scaled > 1e14)
                continue;
            char expected[400];
            std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
            QCOMPARE(Fixed(value, decimals), QString::fromLatin1(expected));
        }
    }
    char huge[FixedFormatCapacity];
    QVERIFY(FormatFixed(huge, -1.7976931348623157e308, 3, "\u066b") - huge <= FixedFormatCapacity);
}

QTEST_APPLESS_MAIN(TestRegional)
#include "tst_regional.moc"
