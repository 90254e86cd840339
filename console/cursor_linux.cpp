#include "console/cursor.h"

#include <unistd.h>

namespace tavro {

// A terminal understands the cursor escapes without any mode switch.
bool enable_stdout_escape_sequences() {
    return isatty(STDOUT_FILENO) == 1;
}

}  // namespace tavro
