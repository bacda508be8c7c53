// AddressSanitizer defaults for the fuzzers (linked into them only). Each
// input frees what it allocated, so a quarantine of 16 MB still holds every
// block freed while the input runs and catches its use after free; the
// default 256 MB only makes every input touch fresh pages. Filling new
// blocks with a pattern costs a write per byte and finds nothing the
// sanitizers do not.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}
