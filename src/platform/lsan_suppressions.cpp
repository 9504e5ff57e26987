// Leaks inside system libraries we do not own (font lookup, SVG rendering,
// SDL's drivers) are not ours to fix; LeakSanitizer reads this list in every
// sanitizer build of our programs, tests and tools.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libfreetype\n"
         "leak:librsvg\n"
         "leak:libglib\n"
         "leak:libgobject\n"
         "leak:libgio\n"
         "leak:libpango\n"
         "leak:libcairo\n"
         "leak:libSDL2\n"
         "leak:libdbus\n"
         "leak:libX11\n";
}
