#pragma once

#include <QString>

namespace quarvel::session {

// Why a port did not open, with what to do about it: the platform's own name for a port named
// as another system names it, a path that is no serial port, where the ports found are listed.
// Both front ends say it in these words.
QString portOpenAdvice(const QString& nameOrPath, const QString& error);

// What follows a failure in which the selector never answered: the cable, its power, the line
// check.
QString noAnswerAdvice();

} // namespace quarvel::session
