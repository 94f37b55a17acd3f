// What the main window's status bar and Help menu say: the line after an
// exchange, the allowed range of a box and the About text. Plain functions, so
// that their texts can be checked alone.
#pragma once

#include <QString>
#include <QTime>
#include <exception>
#include <optional>

#include "app/unit_controller.h"

namespace ku::ui {

// The exchanges with the unit the window runs.
enum class Exchange { Load, ReadBack, UploadSetup, UploadDefaults, CheckConnection };

// How an exchange ended.
struct ExchangeResult {
  Exchange kind = Exchange::ReadBack;
  LoadOutcome load = LoadOutcome::Linked;  // Load only
  int loadCode = 0;                        // Load only: the load step's last code
  int uploadCode = 0;                      // uploads only
  bool readBackRan = true;
  int slotsRead = 32;  // slots of the record that arrived whole; -1 when not known
  QTime at;
  // Uploads only: whether the pass went out, or why nothing was sent.
  UploadOutcome upload = UploadOutcome::Sent;
  // A write or read failed during the exchange: the port was closed after it.
  bool lineLost = false;
  // The code of opening the port again after a lost line, when that failed
  // and so nothing else of the exchange ran; 0 otherwise.
  int reopenCode = 0;
  // Uploads only: where the pass broke off, when a write failed.
  std::optional<PassBreak> broke = std::nullopt;
  // What came in reply to "x" when the short-reply message was shown
  // ("received 12 of 38 characters"); empty otherwise.
  QString received = QString();
};

// Where the operator looks further when the unit's reply was wrong.
inline const char* kConnectionCheckPointer = "Unit > Check connection... looks at the line";

// What the operator does after a lost line.
inline const char* kLineLostAdvice = "Plug the adapter in, then Unit > Read back";

// Status texts while an exchange runs.
inline const char* kUploadingText = "Uploading";
inline const char* kReadingBackText = "Reading the unit back";
inline const char* kCheckingText = "Checking the connection";
// The tooltip of a slot's empty current-value cell.
inline const char* kNotReadBackTip = "not read back";

// One line saying what happened and when, e.g. "Read back 32 of 32 slots at 17:10:03";
// after a lost line, with what to do.
QString exchangeSummary(const ExchangeResult& r);

// What escaped a handler of the window, in words for the status bar.
QString escapedFailureText(const std::exception& e);

// "Test Frequency takes a whole number from 0 to 32000."
QString allowedRangeText(int slot);

// What the reference values read the pulse-width box's text as, in ms:
// "E/S Min Pulse width: read as 1.5 ms", or why it cannot be read (the Min
// Depth and the figures after it then keep their last values).
QString pulseWidthReadingText(const std::string& text, const NumberLocale& locale);

// The About box: program and version, and the files and device in use.
struct AboutFacts {
  QString version;
  QString referenceDatabase;  // path
  bool referenceDatabaseFound = false;
  QString settingsFile;  // path of comms.ini
  bool settingsFileFound = false;
  QString device;  // path of the port's device; empty when not known
  int portNumber = 0;
  bool portOpen = false;
};
QString aboutText(const AboutFacts& facts);

}  // namespace ku::ui
