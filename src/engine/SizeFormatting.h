#pragma once

#include <QString>
#include <cstdint>

// A byte count for display in decimal units: "999 bytes", "1 KB", "1.5 MB",
// "250 MB", "2.5 GB". Never follows the user's locale.
QString stringFromSize(int64_t bytes);
