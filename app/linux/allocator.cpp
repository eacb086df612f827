// The memory allocator's settings, compiled into the program (Linux, where
// the program is linked with jemalloc, which reads them at start-up).
//
// The first touch of a page the process has not used yet costs a page
// fault, and on Linux the faults of a fresh full-size image plane outweigh
// the arithmetic of the step that fills it. The image steps release each
// plane right after its last use; these settings make the allocator keep
// the freed pages so that the next plane takes them over without faults:
//   - large blocks come from the ordinary arenas, not from the one that
//     gives them back to the system at once (oversize_threshold:0);
//   - freed pages end as lazily freed (MADV_FREE) and are never purged
//     (muzzy_decay_ms:-1): the process reuses them as they are, and the
//     kernel takes them back only when it runs short of memory, so a
//     program left showing its result holds no memory it cannot lose.
// All threads share one arena (narenas:1), made at start-up: otherwise a
// thread of OpenCV's takes an arena of its own on its first allocation, and
// when memory is so short that the arena cannot be made (an address-space
// limit just above what an image needs), jemalloc 5.3 dereferences the arena
// it failed to make and the run dies by SIGSEGV instead of reporting the
// failed allocation. OpenCV's threads allocate little, so sharing costs no
// measurable time.
//
// Large blocks are asked for as huge pages (thp:always: the allocator marks
// its memory with MADV_HUGEPAGE, which systems whose huge pages are "madvise"
// need and others ignore): a fresh 2 MiB page costs one fault where 4 KiB
// pages cost 512. README (Performance) has the page faults and peak memory
// these settings save, as bench/compare measures them.
extern "C" {
const char* malloc_conf = "oversize_threshold:0,muzzy_decay_ms:-1,narenas:1,thp:always";
}
