// AddressSanitizer defaults for the fuzzers (linked into them only). Each
// input frees what it allocated, so a quarantine of 16 MB still holds every
// block freed while the input runs and catches its use after free; the
// default 256 MB only makes every input touch fresh pages. Filling new
// blocks with a pattern costs a write per byte and finds nothing the
// sanitizers do not. Recording where each block was allocated and freed
// costs a stack walk per allocation and only serves the report: a finding is
// still found, and its input replayed with ASAN_OPTIONS=malloc_context_size=30
// (or by the sanitized replay build) shows both stacks.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=0";
}
