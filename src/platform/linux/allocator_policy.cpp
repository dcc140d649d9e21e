// jemalloc reads its options from this symbol when the program starts. Huge pages cut the page
// faults of a large scan by a factor of several hundred; where the kernel offers none, nothing changes.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "thp:always,metadata_thp:always";
}
