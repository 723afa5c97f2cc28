#pragma once

// Qt Core is not built with ThreadSanitizer. A queued call (invokeMethod, a queued or
// blocking-queued connection) hands its arguments and return value between threads through
// Qt's own futex-based mutex and semaphore, out of the sanitizer's sight, so the copy made on
// the sending thread and its use in the receiver's slot look like a race. Qt's event delivery,
// QObject::event, is the one frame of Qt's own on the receiving side of every such report, and
// the only name suppressed. Our code, Boost and the standard library are never suppressed, nor
// Qt Core as a whole.
extern "C" const char* __tsan_default_suppressions();
