#pragma once
// Start-up as the program's loop runs it: the splash shown, its first timer tick handing
// over to the design window. Tests that show the design window themselves instead race
// that tick, which activates the design window again whenever it comes.

namespace krepiks::test {

// Shows Form1 and waits until the hand-over is done and the design window is active.
// The windows must have been created. Returns false when that did not happen in time.
bool HandOverToDesignWindow();

} // namespace krepiks::test
