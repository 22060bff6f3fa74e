#pragma once

#include <QString>

namespace orl::Main {

// The folder the program reads dbTemp.mdb, Samples/, HAND-M.CUR and x/ from.
struct ProgramFolderChoice {
  QString folder;
  // Why the user's working copy could not be made or brought up to date;
  // empty when all went well. The folder is then the executable's own, and
  // a run reports that its scratch database cannot be written.
  QString problem;
};

// The executable's folder when this user may write there and it is not the
// shared install; otherwise the user's working copy, dataHome + "/orlintide".
// The working copy is made on first use from the executable folder's files,
// readable by its owner alone (a run copies tables into its scratch
// database). Its scratch database is replaced when the installed one has
// another format (a missing or damaged one counts as another); on every
// start the files it lacks are copied from the install (samples new in a
// newer install, or ones the user deleted to have them afresh) and the files
// it has are kept as the user left them. The installed files are only ever read.
ProgramFolderChoice ChooseProgramFolder(const QString& executableFolder, const QString& dataHome,
                                        const QString& sharedInstallFolder);

// The same for the running program: its executable's folder, the user's
// data folder ($XDG_DATA_HOME, or ~/.local/share) and the shared install
// folder the build was made for.
ProgramFolderChoice ChooseProgramFolder(const QString& executableFolder);

// The format stamp of a scratch database (SQLite's user_version, which the
// build sets); -1 when the file is missing or not an SQLite database.
int ScratchDatabaseFormat(const QString& file);

}  // namespace orl::Main
