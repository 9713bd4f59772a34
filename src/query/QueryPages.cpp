#include "query/QueryPages.h"

namespace QueryPages {

void install() {}

} // namespace QueryPages
