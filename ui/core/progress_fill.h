#pragma once

namespace velmora::ui {

// How much of the progress bar is drawn filled, in `steps` steps (a bar's range of 0 to
// `steps`), for the engine's single-precision maximum and value as they come: the value
// over the maximum, clamped, so that a value past the maximum shows full and a negative
// one empty; a maximum of 0 or less, or a value that is no number, shows empty.
int FilledSteps(float max, float value, int steps);

} // namespace velmora::ui
