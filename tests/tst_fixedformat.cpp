#include "convert/Errors.h"
#include "convert/FixedFormat.h"

#include <QRandomGenerator>
#include <QTest>

#include <cfenv>
#include <cmath>
#include <string_view>

using namespace Qt::Literals::StringLiterals;

// Draws one value for a pattern with the given number of decimals.
using Generator = double (*)(QRandomGenerator &random, int decimals);
Q_DECLARE_METATYPE(Generator)

class TestFixedFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatterAgreesWithFormatFixed_data();
    void formatterAgreesWithFormatFixed();
    void pointFormatterAgreesWithFormatFixed_data() { formatterAgreesWithFormatFixed_data(); }
    void pointFormatterAgreesWithFormatFixed();
    void pointFormatterIgnoresRoundingMode_data();
    void pointFormatterIgnoresRoundingMode();
    void tooLongSeparatorRefused();
};

static double Uniform(QRandomGenerator &random, double low, double high)
{
    return low + (high - low) * random.generateDouble();
}

static double LogUniform(QRandomGenerator &random, double lowExponent, double highExponent)
{
    return std::pow(10.0, Uniform(random, lowExponent, highExponent));
}

static double RandomSign(QRandomGenerator &random, double value)
{
    return random.bounded(2) ? -value : value;
}

// A value a few units in the last place away from x.
static double Nudged(QRandomGenerator &random, double x)
{
    for (int steps = random.bounded(-4, 5); steps != 0; steps += steps > 0 ? -1 : 1)
        x = std::nextafter(x, steps > 0 ? HUGE_VAL : -HUGE_VAL);
    return x;
}

// A rounding tie of the pattern: k + 0.5 units of its last decimal, for a
// whole part of up to `digits` digits.
static double Tie(QRandomGenerator &random, int decimals, double digits)
{
    const double units = std::floor(LogUniform(random, 0, digits + decimals));
    return (units + 0.5) / std::pow(10.0, decimals);
}

static double Masses(QRandomGenerator &random, int)
{
    return Uniform(random, 50, 4000);
}

static double Intensities(QRandomGenerator &random, int)
{
    return LogUniform(random, -3, 10);
}

static double AnyMagnitude(QRandomGenerator &random, int)
{
    return RandomSign(random, LogUniform(random, -20, 20));
}

static double NextToTies(QRandomGenerator &random, int decimals)
{
    return RandomSign(random, Nudged(random, Tie(random, decimals, 9)));
}

// Ties moved by about the width of the 15th significant digit, where the
// two roundings of FormatFixed start to disagree with plain rounding.
static double AtTheFifteenthDigit(QRandomGenerator &random, int decimals)
{
    const double tie = Tie(random, decimals, 12);
    return tie * (1 + Uniform(random, -3e-14, 3e-14));
}

static double BinaryFractions(QRandomGenerator &random, int)
{
    const double denominator = std::ldexp(1.0, random.bounded(1, 12));
    return RandomSign(random, std::floor(LogUniform(random, 0, 9)) / denominator);
}

// Values stored as 32-bit floats, as intensities often are: many lie
// exactly on a rounding tie.
static double SinglePrecision(QRandomGenerator &random, int)
{
    return RandomSign(random, double(float(LogUniform(random, -3, 9))));
}

// 9.9996, 999.99951 ...: rounding carries into a new leading digit.
static double Carries(QRandomGenerator &random, int decimals)
{
    const double nines = std::pow(10.0, random.bounded(0, 12)) - std::pow(10.0, -decimals);
    return Nudged(random, nines + Uniform(random, 0.4, 0.6) * std::pow(10.0, -decimals));
}

// Where the integer arithmetic must hand over: whole parts of 10 to 17 digits.
static double Large(QRandomGenerator &random, int decimals)
{
    return RandomSign(random, LogUniform(random, 10 - decimals, 17));
}

static double Tiny(QRandomGenerator &random, int)
{
    return RandomSign(random, LogUniform(random, -320, -3));
}

static QByteArray Reference(double value, int decimals, std::string_view separator)
{
    char text[FixedFormatCapacity];
    return QByteArray(text, FormatFixed(text, value, decimals, separator) - text);
}

static QByteArray Fast(const FixedFormatter &formatter, double value)
{
    char text[FixedFormatCapacity];
    return QByteArray(text, formatter.Format(text, value) - text);
}

void TestFixedFormat::formatterAgreesWithFormatFixed_data()
{
    QTest::addColumn<Generator>("generator");
    QTest::addColumn<int>("values");

    QTest::newRow("masses") << Generator(Masses) << 300000;
    QTest::newRow("intensities") << Generator(Intensities) << 300000;
    QTest::newRow("any magnitude") << Generator(AnyMagnitude) << 200000;
    QTest::newRow("next to ties") << Generator(NextToTies) << 200000;
    QTest::newRow("ties at the 15th digit") << Generator(AtTheFifteenthDigit) << 200000;
    QTest::newRow("binary fractions") << Generator(BinaryFractions) << 200000;
    QTest::newRow("32-bit floats") << Generator(SinglePrecision) << 200000;
    QTest::newRow("carries") << Generator(Carries) << 100000;
    QTest::newRow("large") << Generator(Large) << 100000;
    QTest::newRow("tiny") << Generator(Tiny) << 50000;
}

void TestFixedFormat::formatterAgreesWithFormatFixed()
{
    QFETCH(Generator, generator);
    QFETCH(int, values);
    QRandomGenerator random(20261208);
    for (const std::string_view separator : {std::string_view("."), std::string_view("\xd9\xab")}) {
        for (int decimals = 1; decimals <= 3; ++decimals) {
            const FixedFormatter formatter(decimals, separator);
            for (int i = 0; i < values / 3; ++i) {
                const double value = generator(random, decimals);
                const QByteArray expected = Reference(value, decimals, separator);
                if (Fast(formatter, value) != expected)
                    QFAIL(qPrintable(u"%1 with %2 decimals gives %3, not %4"_s.arg(value, 0, 'g', 17)
                                         .arg(decimals)
                                         .arg(QString::fromUtf8(Fast(formatter, value)), QString::fromUtf8(expected))));
            }
        }
    }
}

// Each number of the pair from the generator or an ordinary one, so that
// either may take a path of its own.
static void ComparePoints(Generator generator, int values)
{
    QRandomGenerator random(20261209);
    for (const std::string_view separator : {std::string_view("."), std::string_view("\xd9\xab")}) {
        const PointFormatter formatter(separator);
        for (int i = 0; i < values / 2; ++i) {
            const double mass = i % 3 == 1 ? Masses(random, 3) : generator(random, 3);
            const double intensity = i % 3 == 2 ? Intensities(random, 1) : generator(random, 1);
            const QByteArray expected = Reference(mass, 3, separator) + '\t' + Reference(intensity, 1, separator);
            char text[2 * FixedFormatCapacity + 1];
            const QByteArray line(text, formatter.Format(text, mass, intensity) - text);
            if (line != expected)
                QFAIL(qPrintable(u"%1 and %2 give %3, not %4"_s.arg(mass, 0, 'g', 17)
                                     .arg(intensity, 0, 'g', 17)
                                     .arg(QString::fromUtf8(line), QString::fromUtf8(expected))));
        }
    }
}

void TestFixedFormat::pointFormatterAgreesWithFormatFixed()
{
    QFETCH(Generator, generator);
    QFETCH(int, values);
    ComparePoints(generator, values);
}

// A library may leave the processor in another rounding mode.
void TestFixedFormat::pointFormatterIgnoresRoundingMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("downward") << FE_DOWNWARD;
    QTest::newRow("upward") << FE_UPWARD;
    QTest::newRow("toward zero") << FE_TOWARDZERO;
}

void TestFixedFormat::pointFormatterIgnoresRoundingMode()
{
    QFETCH(int, mode);
    const int before = std::fegetround();
    std::fesetround(mode);
    ComparePoints(NextToTies, 100000);
    ComparePoints(Masses, 100000);
    std::fesetround(before);
}

void TestFixedFormat::tooLongSeparatorRefused()
{
    try {
        FixedFormatter(1, "12345");
        QFAIL("a separator of 5 bytes was taken");
    } catch (const Error &error) {
        QCOMPARE(error.number(), ErrorNumber::InvalidArgument);
    }
}

QTEST_APPLESS_MAIN(TestFixedFormat)
#include "tst_fixedformat.moc"
