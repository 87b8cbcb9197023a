#pragma once

#include "convert/Errors.h"

#include <QString>

// The one line that batch mode writes to standard error about a failure:
// "quorvane-to-text: SUBJECT: REASON", the subject being the RAW path or the
// argument refused. It stays one line whatever the path or a file's content
// puts into it: every control character is written escaped, as \n, \r, \t,
// \xHH or \uHHHH, and a backslash as \\, so that no text can forge a line
// or steer the terminal, and the line reads back unambiguously.
QString ErrorLine(const QString &subject, const QString &reason);

// The failure as the window words it ("Error N: description"), less the
// path that its description begins with when the line names it already.
QString FailureBeyondPath(const Error &error, const QString &path);
