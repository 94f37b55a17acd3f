// Texts between the program's std::string and Qt's QString.
#pragma once

#include <QString>
#include <string>

namespace ku::ui {

inline QString qs(const char* text) {
  return QString::fromUtf8(text ? text : "");
}
inline QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace ku::ui
