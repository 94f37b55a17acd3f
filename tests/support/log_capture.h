// The diagnostics as a test sees them: every message of a ku.* category while a
// test runs, as "category: text", under the rules the test switches on.
#pragma once

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <string>
#include <vector>

namespace ku::test {

class LogCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    lines().clear();
    previous_ = qInstallMessageHandler(capture);
  }
  void TearDown() override {
    qInstallMessageHandler(previous_);
    QLoggingCategory::setFilterRules(QString());
  }
  static void useRules(const char* rules) {
    QLoggingCategory::setFilterRules(QString::fromLatin1(rules));
  }
  static std::vector<std::string>& lines() {
    static std::vector<std::string> captured;
    return captured;
  }
  // The captured lines of one category, in order.
  static std::vector<std::string> linesOf(const std::string& category) {
    std::vector<std::string> of;
    for (const std::string& line : lines())
      if (line.rfind(category + ": ", 0) == 0) of.push_back(line);
    return of;
  }
  static bool logged(const std::string& line) {
    for (const std::string& l : lines())
      if (l == line) return true;
    return false;
  }

 private:
  static void capture(QtMsgType, const QMessageLogContext& context, const QString& text) {
    const std::string category = context.category ? context.category : "";
    if (category.rfind("ku.", 0) == 0) lines().push_back(category + ": " + text.toStdString());
  }
  QtMessageHandler previous_ = nullptr;
};

}  // namespace ku::test
