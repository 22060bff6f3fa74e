#include "platform/ui/ProgramLifetime.h"

#include <QCoreApplication>

namespace orl::ui {

void QtProgramLifetime::endProgram() { QCoreApplication::exit(0); }

}  // namespace orl::ui
