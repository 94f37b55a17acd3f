// Small helpers shared by the command lines of kuctl and ku-sim, which both
// parse with QCommandLineParser (single-dash words read as long options).
#pragma once

#include <QString>
#include <QStringList>

namespace ku::cli {

// The argument as typed ("--bogus", "-x=1") that named the option the parser did
// not know; the bare name when no argument matches.
inline QString optionAsTyped(const QStringList& args, const QString& unknownName) {
  for (const QString& a : args) {
    if (a.size() < 2 || !a.startsWith('-')) continue;
    const int dashes = a.startsWith(QLatin1String("--")) ? 2 : 1;
    if (a.mid(dashes).section('=', 0, 0) == unknownName) return a;
  }
  return unknownName;
}

}  // namespace ku::cli
