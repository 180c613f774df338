// Leaks inside system libraries that tests cannot avoid (fontconfig's caches, made when
// Qt first lays out text). Leaks in the suite's own code are still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
