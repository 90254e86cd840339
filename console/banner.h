#pragma once

namespace tavro {

/// Plays the animated banner on standard output and returns when it ends.
void play_banner();

}  // namespace tavro
