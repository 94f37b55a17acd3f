#include "app/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/unit_controller.h"
#include "link/qt_serial_port.h"
#include "reference/lookups.h"

namespace ku {
namespace {

constexpr char kAppFolder[] = "ku-utility";
constexpr char kSettingsName[] = "comms.ini";

std::string joined(const std::string& dir, const std::string& name) {
  return QDir::cleanPath(QString::fromStdString(dir + "/" + name)).toStdString();
}

bool isFile(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).isFile();
}

// There, even as a link whose target is gone.
bool isPresent(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool isDir(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).isDir();
}

// sub below an XDG base folder: the variable when it holds an absolute path (the
// rules ignore a relative one), else the default below the home folder. why
// names which of the two it was.
std::string userFolder(const FolderEnvironment& env, const std::string& variable,
                       const std::string& homeDefault, const std::string& sub, std::string& why) {
  const std::string value = env.variable(variable);
  if (!value.empty() && value.front() == '/') {
    why = "$" + variable + "/" + sub;
    return joined(value, sub);
  }
  why = "~/" + homeDefault + "/" + sub + " ($" + variable +
        (value.empty() ? " is not set)" : " is not an absolute path)");
  return joined(env.variable("HOME"), homeDefault + "/" + sub);
}

// The folders of $XDG_DATA_DIRS that are absolute paths, in order; the default
// when none is.
std::vector<std::string> dataFolders(const FolderEnvironment& env, bool& fromVariable) {
  std::vector<std::string> dirs;
  for (const QString& d : QString::fromStdString(env.variable("XDG_DATA_DIRS")).split(':')) {
    if (d.startsWith('/')) dirs.push_back(d.toStdString());
  }
  fromVariable = !dirs.empty();
  if (dirs.empty()) dirs = {"/usr/local/share", "/usr/share"};
  return dirs;
}

ChosenPath chooseSettingsFile(const FolderEnvironment& env, const std::string& userDir,
                              const std::string& userWhy) {
  const std::string portable = joined(env.programDir, kSettingsName);
  if (isFile(portable)) return {portable, "beside the program", true};
  const std::string user = joined(userDir, kSettingsName);
  if (isFile(user))
    return {user, "not beside the program; in the user's settings folder " + userWhy, true};
  return {user, "missing: neither beside the program nor in the user's settings folder " + userWhy,
          false};
}

ChosenPath chooseReferenceDatabase(const FolderEnvironment& env) {
  const std::string beside = joined(env.programDir, kReferenceDbName);
  if (isFile(beside)) return {beside, "beside the program", true};
  const std::string shared =
      joined(env.programDir, std::string("../share/") + kAppFolder + "/" + kReferenceDbName);
  if (isFile(shared))
    return {shared, "not beside the program; in the share folder next to its folder", true};
  bool fromVariable = false;
  std::string looked;
  for (const std::string& dir : dataFolders(env, fromVariable)) {
    const std::string candidate = joined(dir, std::string(kAppFolder) + "/" + kReferenceDbName);
    looked += (looked.empty() ? "" : ", ") + candidate;
    if (isFile(candidate)) {
      return {candidate,
              std::string("not beside the program nor in ../share/ku-utility; in ") +
                  (fromVariable ? "$XDG_DATA_DIRS" : "the default data folders") + " (" + dir + ")",
              true};
    }
  }
  // Looked up where it always was, so that every lookup fails as it did.
  return {beside, "missing: looked beside the program, in " + shared + " and in " + looked, false};
}

}  // namespace

FolderEnvironment FolderEnvironment::ofProcess(std::string programDir) {
  FolderEnvironment env;
  env.programDir = std::move(programDir);
  env.variable = [](const std::string& name) -> std::string {
    const char* value = std::getenv(name.c_str());
    if (value != nullptr && *value != '\0') return value;
    if (name == "HOME") {
      const passwd* pw = ::getpwuid(::getuid());
      if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
    }
    return {};
  };
  return env;
}

Folders resolveFolders(const FolderEnvironment& env) {
  Folders f;
  f.programDir = env.programDir;
  std::string configWhy;
  f.userSettingsDir = userFolder(env, "XDG_CONFIG_HOME", ".config", kAppFolder, configWhy);
  f.settingsFile = chooseSettingsFile(env, f.userSettingsDir, configWhy);
  f.referenceDatabase = chooseReferenceDatabase(env);
  std::string stateWhy;
  const std::string backups = userFolder(env, "XDG_STATE_HOME", ".local/state",
                                         std::string(kAppFolder) + "/backups", stateWhy);
  const bool made = isDir(backups);
  f.backupsDir = {backups, stateWhy + (made ? "" : "; made at the first backup"), made};
  return f;
}

std::string Folders::linkFolderFor(int portNumber) const {
  if (settingsFile.exists) {
    return QFileInfo(QString::fromStdString(settingsFile.path)).path().toStdString();
  }
  const std::string link = "com" + std::to_string(portNumber);
  if (!isPresent(joined(programDir, link)) && isPresent(joined(userSettingsDir, link)))
    return userSettingsDir;
  return programDir;
}

std::string Folders::settingsFolder() const {
  return settingsFile.exists ? linkFolderFor(0) : userSettingsDir;
}

ChosenPath portDevice(const std::string& folder, int portNumber) {
  const std::string device = QtSerialPort(folder).devicePathFor(portNumber);
  const QFileInfo info(QString::fromStdString(device));
  const std::string name = "com" + std::to_string(portNumber);
  std::string why;
  if (!isPresent(joined(folder, name))) {
    why = "no " + name + " in " + folder + ": port " + std::to_string(portNumber) + " is " + device;
  } else {
    why = name + " in " + folder;
    if (info.isSymLink()) why += ", a link to " + info.symLinkTarget().toStdString();
  }
  if (!info.exists()) why += " (missing)";
  return {device, why, info.exists()};
}

void useFolders(AppContext& context, const Folders& folders) {
  context.settingsFile = folders.settingsFile.path;
  context.linkFolder = folders.settingsFile.exists ? folders.linkFolderFor(0) : folders.programDir;
  context.referenceDatabase = folders.referenceDatabase.path;
  context.backupsDir = folders.backupsDir.path;
}

}  // namespace ku
