#pragma once

// Qt Core is not built with ThreadSanitizer. A queued call (invokeMethod, a queued or
// blocking-queued connection) hands its arguments and return value between threads through
// Qt's own futex-based mutex and semaphore, out of the sanitizer's sight, so the copy made on
// the sending thread and its use in the receiver's slot look like a race. Qt's event delivery,
// QObject::event, is the one frame of Qt's own on the receiving side of every such report, and
// the one function named. Qt Core's own calls of intercepted functions (the memmove of a
// QString it moves along with a queued call) are not checked either: that is what
// called_from_lib does, for those calls only. Our code, Boost and the standard library are never
// suppressed, nor every race in Qt Core.
extern "C" const char* __tsan_default_suppressions();
