#pragma once

#include <QString>

// Facts about the program and the user running it.
namespace SystemInfo {
// The program's short version, "0.1.0".
QString shortVersionString();
// The login name of the user running the program.
QString loginName();
} // namespace SystemInfo
