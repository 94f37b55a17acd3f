// Where the program finds its files, and why there. A portable folder (the
// program's folder holding comms.ini, as the demo and the tests use) wins;
// otherwise the user's folders of the XDG base-directory rules:
//   comms.ini and comN links: the program's folder when comms.ini is there, else
//     $XDG_CONFIG_HOME/ku-utility/ (default ~/.config/ku-utility/);
//   TKUUtil.mdb: beside the program, else <program folder>/../share/ku-utility/,
//     else ku-utility/ in each folder of $XDG_DATA_DIRS (default
//     /usr/local/share:/usr/share);
//   backups: $XDG_STATE_HOME/ku-utility/backups/ (default
//     ~/.local/state/ku-utility/backups/).
// Nothing here creates a file or folder.
#pragma once

#include <functional>
#include <string>

namespace ku {

struct AppContext;

// A file or folder the program uses, and the reason for the choice in words.
struct ChosenPath {
  std::string path;
  std::string reason;
  bool exists = false;
};

// What the choice depends on: the program's folder and the environment.
struct FolderEnvironment {
  std::string programDir;
  // The value of an environment variable, empty when it is not set.
  std::function<std::string(const std::string& name)> variable;

  // This process's environment ($HOME, or the user's home from the password
  // database when HOME is not set).
  static FolderEnvironment ofProcess(std::string programDir);
};

struct Folders {
  std::string programDir;
  std::string userSettingsDir;   // $XDG_CONFIG_HOME/ku-utility or its default
  ChosenPath settingsFile;       // comms.ini
  ChosenPath referenceDatabase;  // TKUUtil.mdb
  ChosenPath backupsDir;

  // The folder where comms.ini was found: port N opens comN there. With no
  // comms.ini anywhere (a port number given on the command line), the program's
  // folder when it holds comN, else the user's settings folder when that does,
  // else the program's folder.
  std::string linkFolderFor(int portNumber) const;
  // Where a new choice of port belongs: the folder whose comms.ini the program
  // reads (a portable copy's own folder), else the user's settings folder.
  std::string settingsFolder() const;
};

Folders resolveFolders(const FolderEnvironment& env);

// The device that port number n opens from folder: comN there when it exists (a
// link to any serial device), else /dev/ttyS<n-1>.
ChosenPath portDevice(const std::string& folder, int portNumber);

// Points the context at the chosen settings file, comN folder, database and
// backups folder.
void useFolders(AppContext& context, const Folders& folders);

}  // namespace ku
