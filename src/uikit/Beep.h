#pragma once

#include <functional>

// The short warning sound of a refused action (an editor that will not give up
// its text, an action nobody handles). Tests replace the sound with a counter.
// main thread
void beep();
// Replaces what beep() does; an empty function restores the system bell.
void setBeepHook(std::function<void()> hook);
