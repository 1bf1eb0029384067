// The two sorting engines over runs of fixed-size records: a stable natural merge sort and an
// adaptive in-place quicksort. Neither knows what a record holds; both stay inside [base, base +
// count * width) whatever the compare routine answers, and move records only by swaps and merge
// steps, so a compare routine that raises leaves the records a permutation of what they were.
// The records must not move while a sort runs: callers whose compare routine may allocate sort a
// copy that nothing moves (see the block and string sorts).
#pragma once
#include <cstdint>

// Negative when the record at a sorts before the one at b, 0 when equal, positive after.
using sort_compare_fn = int32_t (*)(const void* a, const void* b, const void* context1, uint32_t context2);

// The caller's compare routine with its two context arguments, passed through unchanged.
struct sort_order {
    sort_compare_fn compare;
    const void* context1;
    uint32_t context2;
    int32_t operator()(const void* a, const void* b) const { return compare(a, b, context1, context2); }
};

// Stable: records that compare equal keep their order. Takes floor(count / 2) records of scratch
// from the heap for the run; script/too-long when that size does not fit 32 bits,
// internal/no-memory when the heap refuses it (the records are untouched then).
void sort_stable(void* base, uint32_t count, uint32_t width, const void* context1, uint32_t context2,
                 sort_compare_fn compare);
// Not stable; allocates nothing.
void sort_quick(void* base, uint32_t count, uint32_t width, const void* context1, uint32_t context2,
                sort_compare_fn compare);

// Exchanges two records: 32-bit words at a time unless bytewise.
void sort_swap(void* a, void* b, uint32_t width, bool bytewise);
// The end of the natural run starting at start: non-descending (each record <= its successor), or
// strictly descending, which is reversed in place before returning.
uint8_t* sort_find_run(uint8_t* start, uint8_t* end, uint32_t width, const sort_order& order);
// Merges the sorted runs [p, q) and [q, r) in place through buffer (room for the shorter run).
// Equal records keep the first run's before the second's.
void sort_merge(uint8_t* p, uint8_t* q, uint8_t* r, uint8_t* buffer, uint32_t width, const sort_order& order);
