// mdbtools reports problems on standard error, and some of its results only
// there; while one of its calls runs, standard error goes to a scratch file that
// is read back and never reaches the terminal.
#pragma once

#include <string>

namespace ku::mdb {

class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

  // What was written so far (at most a few kilobytes).
  std::string captured() const;

 private:
  void restore();
  int sink_ = -1;
  int saved_ = -1;
};

}  // namespace ku::mdb
