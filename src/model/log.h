// Diagnostics: one logging category per layer, silent unless switched on.
//
//   ku.link       the port opened and closed (device, line settings), every
//                 write and read with its bytes in hex, pauses, holds, failures
//   ku.reference  the reference database opened, its queries, failures
//   ku.app        the controller's operations and their outcomes, backups and
//                 set-up files written
//   ku.cli        the command kuctl runs and its exit status
//   ku.ui         the window's close requests and its exchanges
//
// Every line is a debug message, and debug messages of these categories are off
// by default; QT_LOGGING_RULES="ku.*.debug=true" switches them all on
// ("ku.link.debug=true" one layer). Qt writes them to standard error.
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <string>

namespace ku {

const QLoggingCategory& lcLink();
const QLoggingCategory& lcReference();
const QLoggingCategory& lcApp();
const QLoggingCategory& lcCli();
const QLoggingCategory& lcUi();

// Bytes as the link's lines show them, two hex digits each: "20 71 78".
QByteArray hexBytes(const std::string& bytes);

}  // namespace ku
