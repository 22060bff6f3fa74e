#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace orl::app {

// The command-line mode: changes the case of one field of one table, or
// lists tables, fields or a field's first entries, with no window at all.
// Error reports go to `errors`, progress too when `errorsIsTerminal`.
// Returns the exit status: 0 only when everything asked for succeeded.
int RunCommandLine(const QStringList& arguments, const QString& programFolder, std::FILE* output,
                   std::FILE* errors, bool errorsIsTerminal);

// True when the program was started with arguments, which selects this mode.
inline bool WantsCommandLine(int argc) { return argc > 1; }

}  // namespace orl::app
