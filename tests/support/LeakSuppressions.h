#pragma once

// Qt's offscreen platform plug-in keeps a few hundred bytes for the life of the process;
// LeakSanitizer would otherwise fail every widget test (and test discovery).
extern "C" const char* __lsan_default_suppressions();
