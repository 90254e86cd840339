#include "console/banner.h"

namespace tavro {

void play_banner() {}

}  // namespace tavro
