#pragma once

#include <QString>

#include <ostream>

// Shows Qt strings as text in GoogleTest failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
