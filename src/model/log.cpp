#include "model/log.h"

namespace ku {

// Warnings and above would reach standard error by default; the categories only
// ever write debug lines, which stay off until a rule switches them on.
Q_LOGGING_CATEGORY(lcLink, "ku.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcReference, "ku.reference", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "ku.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCli, "ku.cli", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "ku.ui", QtWarningMsg)

QByteArray hexBytes(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toHex(' ');
}

}  // namespace ku
