// LeakSanitizer reads this list in every sanitizer build of our programs,
// tests and tools; its lines come from tests/lsan.supp at configure time.
extern "C" const char* __lsan_default_suppressions() { return QV_LSAN_SUPPRESSIONS; }
