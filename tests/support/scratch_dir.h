// A scratch folder for one test or benchmark, removed with everything in it when
// it goes (rights a test took away from the folder itself are given back first).
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ku::test {

class ScratchDir {
 public:
  ScratchDir() : dir_(QDir::tempPath() + QStringLiteral("/ku-test-XXXXXX")) {
    if (!dir_.isValid())
      throw std::runtime_error("no scratch folder: " + dir_.errorString().toStdString());
    path_ = dir_.path().toStdString();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes content to the named file and returns its path.
  std::string write(const std::string& content, const std::string& name = "comms.ini") const {
    std::ofstream(file(name), std::ios::binary) << content;
    return file(name);
  }
  std::string commsIni() const { return file("comms.ini"); }
  void writeCommsIni(const std::string& content) const { write(content); }
  // Makes comN in the folder a symbolic link to target and returns its path.
  std::string link(int n, const std::string& target) const {
    const std::string l = file("com" + std::to_string(n));
    std::filesystem::create_symlink(target, l);
    return l;
  }

 private:
  QTemporaryDir dir_;
  std::string path_;
};

}  // namespace ku::test
