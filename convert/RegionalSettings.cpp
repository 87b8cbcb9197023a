#include "convert/RegionalSettings.h"

#include "convert/DateValue.h"
#include "convert/Errors.h"

#include <QLocale>

#include <cmath>
#include <optional>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

// Calls f(position, length) for each run of one unquoted pattern letter.
template <typename Function>
void ForEachPatternRun(const QString &format, QChar letter, Function f)
{
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        if (format[i] == u'\'') {
            quoted = !quoted;
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        if (!quoted && format[i] == letter) {
            while (end < format.size() && format[end] == letter)
                ++end;
            f(i, end - i);
        }
        i = end;
    }
}

// Some locales write two-digit years; a date must survive the trip to text
// and back, so the year is always written in full.
QString ShortDateFormat()
{
    const QString original = QLocale().dateFormat(QLocale::ShortFormat);
    QString format = original;
    qsizetype shift = 0;
    ForEachPatternRun(original, u'y', [&](qsizetype at, qsizetype length) {
        if (length == 2) {
            format.insert(at + shift, u"yy"_s);
            shift += 2;
        }
    });
    return format;
}

bool IsZoneSeparator(QChar c)
{
    return c.isSpace() || c == u',';
}

// Whether a pair of brackets encloses the characters from start to end.
bool Bracketed(const QString &format, qsizetype start, qsizetype end)
{
    if (start == 0 || end == format.size())
        return false;
    const QChar open = format[start - 1];
    const QChar close = format[end];
    return (open == u'(' && close == u')') || (open == u'[' && close == u']');
}

// The long time format carries a zone name, which the header has no use for.
// It goes together with its brackets and the separators that set it off:
// "H:mm:ss (t)", "HH:mm:ss, t" and "t HH:mm:ss" leave the time alone.
QString LongTimeFormat()
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    qsizetype start = -1;
    qsizetype end = -1;
    ForEachPatternRun(format, u't', [&](qsizetype at, qsizetype length) {
        start = at;
        end = at + length;
    });
    if (start < 0)
        return format;
    if (Bracketed(format, start, end)) {
        --start;
        ++end;
    }
    while (start > 0 && IsZoneSeparator(format[start - 1]))
        --start;
    while (start == 0 && end < format.size() && IsZoneSeparator(format[end]))
        ++end;
    return format.remove(start, end - start);
}

// The locale that writes and reads the date text. Qt cannot read digits
// beyond the basic plane back (Chakma, Adlam): those locales' formats are
// written with ASCII digits and the C locale's words.
QLocale DateTextLocale()
{
    const QLocale locale;
    return locale.zeroDigit().size() > 1 ? QLocale::c() : locale;
}

// Where a time format's word for the time of day stands ("AP", "ap", "A" or
// "a", unquoted), and its length; a length of 0 when it has none.
std::pair<qsizetype, qsizetype> DesignatorOf(const QString &format)
{
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'\'')
            quoted = !quoted;
        else if (!quoted && (format[i] == u'A' || format[i] == u'a'))
            return {i, i + 1 < format.size() && (format[i + 1] == u'P' || format[i + 1] == u'p') ? 2 : 1};
    }
    return {0, 0};
}

// Qt reads the hours, minutes and seconds; the word for the time of day is
// matched here. Qt's parser misreads some locales' words (Assamese, Bodo)
// and reads past its buffer on a word that leads the time (Ewe), so it is
// never handed one.
QTime ReadTime(const QLocale &locale, const QString &text, const QString &format)
{
    const auto [at, length] = DesignatorOf(format);
    if (length == 0)
        return locale.toTime(text, format);
    const QString token = format.mid(at, length);
    std::pair<QString, bool> words[] = {{locale.toString(QTime(6, 0), token), false},
                                        {locale.toString(QTime(18, 0), token), true}};
    // The longer word first, should one hold the other.
    if (words[0].first.size() < words[1].first.size())
        std::swap(words[0], words[1]);
    for (const auto &[word, afternoon] : words) {
        const qsizetype found = word.isEmpty() ? -1 : text.indexOf(word);
        if (found < 0)
            continue;
        QTime time = locale.toTime(QString(text).remove(found, word.size()), QString(format).remove(at, length));
        // Without its word Qt reads "h" from 0 to 23; "H" stays as it is.
        bool twelveHour = false;
        ForEachPatternRun(format, u'h', [&](qsizetype, qsizetype) { twelveHour = true; });
        if (!time.isValid() || !twelveHour)
            return time;
        if (time.hour() > 12 || time.hour() == 0)
            return {};
        const int hour = time.hour() % 12 + (afternoon ? 12 : 0);
        return QTime(hour, time.minute(), time.second(), time.msec());
    }
    return {};
}

std::optional<double> ParseNumber(const QString &text)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

QString DateToText(double dateValue)
{
    const QDateTime wallClock = DateTimeOfDateValue(dateValue);
    const QLocale locale = DateTextLocale();
    const QString date = locale.toString(wallClock.date(), ShortDateFormat());
    const QString time = locale.toString(wallClock.time(), LongTimeFormat());
    if (wallClock.date() == DateValueOrigin())
        return time;
    if (wallClock.time() == QTime(0, 0))
        return date;
    return date + u' ' + time;
}

// Date and time are read apart, as wall-clock values: read as one local date
// and time, a text in the hour that a spring change skips would be refused.
double TextToDate(const QString &text)
{
    const QLocale locale = DateTextLocale();
    const QString trimmed = text.trimmed();
    for (qsizetype blank = trimmed.indexOf(u' '); blank >= 0; blank = trimmed.indexOf(u' ', blank + 1)) {
        const QDate date = locale.toDate(trimmed.left(blank), ShortDateFormat());
        const QTime time = ReadTime(locale, trimmed.mid(blank + 1), LongTimeFormat());
        if (date.isValid() && time.isValid())
            return DateValueOfDateTime(date, time);
    }
    const QDate date = locale.toDate(trimmed, ShortDateFormat());
    if (date.isValid())
        return DateValueOfDateTime(date, QTime(0, 0));
    const QTime time = ReadTime(locale, trimmed, LongTimeFormat());
    if (time.isValid())
        return DateValueOfDateTime(DateValueOrigin(), time);
    throw Error(ErrorNumber::TypeMismatch, u"Type mismatch: \"%1\" is not a date."_s.arg(text));
}

// The software that reads the injection time knows ASCII digits and "-"
// only; the decimal separator alone follows the locale.
QString NumberToText(double value)
{
    QString text = QLocale::c().toString(value == 0.0 ? 0.0 : value, 'G', 15);
    return text.replace(u'.', DecimalSeparator());
}

bool IsNumeric(const QString &text)
{
    return ParseNumber(text).has_value();
}

double TextToNumber(const QString &text)
{
    if (const std::optional<double> value = ParseNumber(text))
        return *value;
    throw Error(ErrorNumber::TypeMismatch, u"Type mismatch: \"%1\" is not a number."_s.arg(text));
}

QString DecimalSeparator()
{
    return QLocale().decimalPoint();
}
