#include "structure/StructurePages.h"

namespace StructurePages {

void install() {}

} // namespace StructurePages
