#include "ui/main_window_status.h"

#include "app/operator_texts.h"
#include "model/errors.h"
#include "model/slot_table.h"
#include "reference/number_text.h"
#include "reference/reference_values.h"
#include "ui/qt_text.h"

namespace ku::ui {

namespace {

QString clock(const QTime& t) {
  return t.toString(QStringLiteral("HH:mm:ss"));
}

QString readBackPart(const ExchangeResult& r) {
  if (!r.readBackRan) return QStringLiteral("the unit was not read back");
  if (r.slotsRead < 0) return QStringLiteral("the unit's record was incomplete");
  return QStringLiteral("read back %1 of %2 slots").arg(r.slotsRead).arg(kRowSlots);
}

QString words(int code) {
  return QString::fromStdString(failureWords(code));
}

QString exchangeOutcome(const ExchangeResult& r, const QString& when);

}  // namespace

QString exchangeSummary(const ExchangeResult& r) {
  const QString when = QStringLiteral(" at ") + clock(r.at);
  if (r.reopenCode != kNoError)
    return QStringLiteral(
               "The line to the unit is still lost: the port did not open again (%1); "
               "nothing was sent or read")
               .arg(words(r.reopenCode)) +
           when + QStringLiteral(". ") + qs(kLineLostAdvice);
  QString summary = exchangeOutcome(r, when);
  if (!r.received.isEmpty())
    summary +=
        QStringLiteral("; ") + r.received + QStringLiteral(". ") + qs(kConnectionCheckPointer);
  if (r.lineLost)
    summary += QStringLiteral(". The line to the unit was lost. ") + qs(kLineLostAdvice);
  return summary;
}

namespace {

QString exchangeOutcome(const ExchangeResult& r, const QString& when) {
  switch (r.kind) {
    case Exchange::Load:
      if (r.load == LoadOutcome::Rejected)
        return QStringLiteral("No valid port in comms.ini; nothing was read") + when;
      if (r.load == LoadOutcome::Unlinked)
        return QStringLiteral("The port did not open (%1); nothing was read")
                   .arg(words(r.loadCode)) +
               when;
      [[fallthrough]];
    case Exchange::ReadBack: {
      QString s = readBackPart(r);
      s[0] = s[0].toUpper();
      return s + when;
    }
    case Exchange::CheckConnection:
      return QStringLiteral("Checked the connection") + when;
    case Exchange::UploadSetup:
    case Exchange::UploadDefaults: {
      const QString what = r.kind == Exchange::UploadSetup ? QStringLiteral("the set-up")
                                                           : QStringLiteral("the defaults");
      switch (r.upload) {
        case UploadOutcome::Sent:
          break;
        case UploadOutcome::UnreadSlots:
          return QStringLiteral("Nothing was sent: the last read-back left slots unread") + when;
        case UploadOutcome::NoBackup:
          return QStringLiteral("Nothing was sent: no backup of the unit's set-up was written") +
                 when;
        case UploadOutcome::NotTheRecord:
          return QStringLiteral("Nothing was sent: the unit's reply was not its record") + when;
      }
      QString first;
      if (r.broke)
        first = QStringLiteral("The upload of %1 stopped after %2 of %3 bytes (%4)")
                    .arg(what)
                    .arg(r.broke->sent)
                    .arg(r.broke->total)
                    .arg(words(r.uploadCode));
      else if (r.uploadCode == 0)
        first = QStringLiteral("Uploaded ") + what;
      else if (r.uploadCode == kInvalidArgument)
        first = QStringLiteral("Uploaded %1 except a value out of limits").arg(what);
      else
        first = QStringLiteral("Upload of %1 failed (%2)").arg(what, words(r.uploadCode));
      return first + QStringLiteral("; ") + readBackPart(r) + when;
    }
  }
  return QString();
}

}  // namespace

QString escapedFailureText(const std::exception& e) {
  const QString what = QString::fromStdString(e.what());
  if (const auto* failure = dynamic_cast<const KuError*>(&e))
    return QStringLiteral("Stopped early: %1 (%2)").arg(words(failure->code()), what);
  return QStringLiteral("Stopped early: ") + what;
}

QString allowedRangeText(int slot) {
  if (slot < 0 || slot >= kRowSlots || !slotInfo(slot).rowLabel) return QString();
  return QStringLiteral("%1 takes a whole number from 0 to %2.")
      .arg(QString::fromUtf8(slotInfo(slot).rowLabel))
      .arg(entryLimit(slot));
}

QString pulseWidthReadingText(const std::string& text, const NumberLocale& locale) {
  const QString name = QString::fromLatin1(kPulseWidthLabel);
  try {
    const double ms = parseNumber(text, locale);
    return QStringLiteral("%1: read as %2 ms").arg(name, qs(numberText(ms, locale)));
  } catch (const KuError& e) {
    const QString why = e.code() == kOverflow ? QStringLiteral("is too large to be read")
                                              : QStringLiteral("is not a number");
    // A long paste is cut, so that the status bar keeps its width.
    QString shown = qs(text);
    if (shown.size() > 24) shown = shown.left(23) + QChar(0x2026);
    return QStringLiteral(
               "%1: \"%2\" %3; Min Depth and the figures after it keep their last "
               "values")
        .arg(name, shown, why);
  }
}

QString aboutText(const AboutFacts& f) {
  auto file = [](const QString& path, bool found) {
    return found ? path : path + QStringLiteral(" (not found)");
  };
  QString device;
  if (f.portNumber <= 0)
    device = QStringLiteral("none");
  else if (f.device.isEmpty())
    device = QStringLiteral("port %1").arg(f.portNumber);
  else
    device = QStringLiteral("%1 (port %2)").arg(f.device).arg(f.portNumber);
  device += f.portOpen ? QStringLiteral(", open") : QStringLiteral(", not open");
  return QStringLiteral(
             "TolvekKU engineering utility\n"
             "Version %1\n\n"
             "Reference database: %2\n"
             "Settings file: %3\n"
             "Device: %4")
      .arg(f.version, file(f.referenceDatabase, f.referenceDatabaseFound),
           file(f.settingsFile, f.settingsFileFound), device);
}

}  // namespace ku::ui
