#pragma once

// Qt Core is not built with ThreadSanitizer: the hand-over of a queued call between threads
// happens inside it, out of the sanitizer's sight, and shows up as false races on the event
// and its arguments. Only those places are named; our code, Boost and the standard library
// are never suppressed.
extern "C" const char* __tsan_default_suppressions();
