#pragma once

#include <QString>

// Paths here are the acquisition system's paths: only the backslash
// separates their parts.

// The text after the last backslash; the whole text when there is none.
QString FileNameOfPath(const QString &path);
