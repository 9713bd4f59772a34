#include "browser/BrowserPages.h"

namespace BrowserPages {

void install() {}

} // namespace BrowserPages
