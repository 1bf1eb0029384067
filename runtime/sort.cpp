// The sorting engines. Records move only by swaps and merge steps; a merge that an error from the
// compare routine interrupts puts the records it holds aside back into the gap before the error
// goes on, so the run stays a permutation of its records whatever the compare routine does.
// Indexes are computed in records and checked against the count, never trusted from an answer.
#include "runtime/sort.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/errors.h"

namespace {

// The records of one sort: addressing, compare and swap by index.
struct records {
    uint8_t* base;
    uint32_t width;
    bool bytewise;
    sort_order order;

    uint8_t* at(uint32_t i) const { return base + size_t(i) * width; }
    int32_t cmp(uint32_t i, uint32_t j) const { return order(at(i), at(j)); }
    void swap(uint32_t i, uint32_t j) const
    {
        if (i != j) sort_swap(at(i), at(j), width, bytewise);
    }
    void reverse(uint32_t first, uint32_t last) const   // [first, last)
    {
        while (last > first + 1) swap(first++, --last);
    }
    // [first, last) turns so that the record at middle comes first.
    void rotate(uint32_t first, uint32_t middle, uint32_t last) const
    {
        if (first == middle || middle == last) return;
        reverse(first, middle);
        reverse(middle, last);
        reverse(first, last);
    }
    // Moves the records [first, first + n) into the window's end [last - n, last), keeping their
    // order; what stood there takes their old place in any order.
    void move_to_end(uint32_t first, uint32_t n, uint32_t last) const
    {
        if (last - n >= first + n) {
            for (uint32_t i = 0; i < n; i++) swap(first + i, last - n + i);
        } else {
            rotate(first, first + n, last);
        }
    }
};

bool bytewise_for(uint32_t width) { return width % 4 != 0; }

// ---- merge sort ---------------------------------------------------------------------------------

constexpr uint32_t MIN_RUN = 24;

// Finds the run at start and extends a short one to min(MIN_RUN, records left) by insertion.
uint32_t extend_run(const records& r, uint32_t start, uint32_t n)
{
    uint8_t* end = sort_find_run(r.at(start), r.at(n), r.width, r.order);
    uint32_t stop = uint32_t((end - r.base) / r.width);
    uint32_t want = n - start < MIN_RUN ? n : start + MIN_RUN;
    for (; stop < want; stop++)
        for (uint32_t j = stop; j > start && r.cmp(j - 1, j) > 0; j--) r.swap(j - 1, j);
    return stop;
}

// The power of the boundary between run A [sA, sA + nA) and run B of nB records: the depth at
// which the boundary splits the whole range in the binary subdivision of [0, n).
uint32_t boundary_power(uint64_t sA, uint64_t nA, uint64_t nB, uint64_t n)
{
    uint64_t a = 2 * sA + nA, b = a + nA + nB;
    uint32_t power = 0;
    for (;;) {
        power++;
        if (a >= n) {
            a -= n;
            b -= n;
        } else if (b >= n) {
            break;
        }
        a *= 2;
        b *= 2;
    }
    return power;
}

struct free_deleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

// ---- quicksort ----------------------------------------------------------------------------------

void insertion_sort(const records& r, uint32_t lo, uint32_t n)
{
    for (uint32_t i = lo + 1; i < lo + n; i++)
        for (uint32_t j = i; j > lo && r.cmp(j - 1, j) > 0; j--) r.swap(j - 1, j);
}

// Sorts the n records from lo, of which the first h are already sorted (a sample when h > 2).
// Recursion goes into the smaller side only, or into the two sides of a window that is at most
// 16 times its sample and therefore takes the whole run in the calls below it: the depth stays
// within about twice log2(n).
void quick(const records& r, uint32_t lo, uint32_t n, uint32_t h)
{
    for (;;) {
        if (h >= n) return;
        if (n <= 7) {
            insertion_sort(r, lo, n);
            return;
        }
        uint32_t w;
        if (h > 2) {
            w = h > n / 256 ? n : std::min<uint32_t>(n, 16 * h - 1);
        } else {
            h = 0;
            w = n > 511 ? 63 : n;
        }
        // A window smaller than the run gathers evenly spaced records of the whole run.
        if (w < n) {
            uint32_t step = n / w;
            for (uint32_t i = h; i < w; i++) r.swap(lo + i, lo + i * step);
        }
        uint32_t m, upper;   // the pivot's place and the records at the window's end known >= pivot
        if (h > 2) {
            m = h / 2;
            upper = h - m - 1;
            r.move_to_end(lo + m + 1, upper, lo + w);
        } else {
            r.swap(lo + w / 2, lo + 1);
            if (r.cmp(lo, lo + 1) > 0) r.swap(lo, lo + 1);
            if (r.cmp(lo + 1, lo + w - 1) > 0) {
                r.swap(lo + 1, lo + w - 1);
                if (r.cmp(lo, lo + 1) > 0) r.swap(lo, lo + 1);
            }
            m = 1;
            upper = 1;
        }
        // Three ways around the pivot at lo + m: [m + 1, lt) less, [lt, i) equal, [gt, e) greater.
        uint32_t e = w - upper, lt = m + 1, i = m + 1, gt = e;
        while (i < gt) {
            int32_t c = r.cmp(lo + i, lo + m);
            if (c < 0) r.swap(lo + lt++, lo + i++);
            else if (c > 0) r.swap(lo + i, lo + --gt);
            else i++;
        }
        r.rotate(lo + m, lo + m + 1, lo + lt);   // the pivot joins the equal records: [lt - 1, gt)
        r.rotate(lo + gt, lo + e, lo + w);       // the upper sample leads the right side
        uint32_t left_n = lt - 1, left_h = m;
        uint32_t right_lo = lo + gt, right_n = w - gt, right_h = upper;
        if (w < n) {
            quick(r, lo, left_n, left_h);
            quick(r, right_lo, right_n, right_h);
            h = w;
            continue;
        }
        if (left_n < right_n) {
            quick(r, lo, left_n, left_h);
            lo = right_lo;
            n = right_n;
            h = right_h;
        } else {
            quick(r, right_lo, right_n, right_h);
            n = left_n;
            h = left_h;
        }
    }
}

// Grows an ordered prefix [0, p) by absorbing the ordered stretch found around the tenth record
// past it: the stretch is widened while its neighbours are in order, its records that would not
// follow the prefix in order are left out, and the rest is turned into place after the prefix.
uint32_t absorb_stretches(const records& r, uint32_t p, uint32_t n, bool ascending)
{
    auto in_order = [&](uint32_t a, uint32_t b) {
        int32_t c = r.cmp(a, b);
        return ascending ? c <= 0 : c >= 0;
    };
    for (;;) {
        while (p < n && in_order(p - 1, p)) p++;
        uint32_t q = p + 9;
        if (p >= n || q + 1 >= n || !in_order(q, q + 1)) return p;
        uint32_t s = q, e = q + 2;
        while (s > p && in_order(s - 1, s)) s--;
        while (e < n && in_order(e - 1, e)) e++;
        while (s < e && !in_order(p - 1, s)) s++;
        if (s == e) return p;
        r.rotate(p, s, e);
        p += e - s;
    }
}

}  // namespace

void sort_swap(void* a, void* b, uint32_t width, bool bytewise)
{
    auto* x = static_cast<uint8_t*>(a);
    auto* y = static_cast<uint8_t*>(b);
    if (bytewise) {
        for (uint32_t i = 0; i < width; i++) std::swap(x[i], y[i]);
        return;
    }
    for (uint32_t i = 0; i < width; i += 4) {
        uint32_t t, u;
        std::memcpy(&t, x + i, 4);
        std::memcpy(&u, y + i, 4);
        std::memcpy(x + i, &u, 4);
        std::memcpy(y + i, &t, 4);
    }
}

uint8_t* sort_find_run(uint8_t* start, uint8_t* end, uint32_t width, const sort_order& order)
{
    if (end - start <= ptrdiff_t(width)) return end;
    uint8_t* p = start + width;
    if (order(start, p) > 0) {
        while (p + width < end && order(p, p + width) > 0) p += width;
        p += width;
        records r{start, width, bytewise_for(width), order};
        r.reverse(0, uint32_t((p - start) / width));
        return p;
    }
    while (p + width < end && order(p, p + width) <= 0) p += width;
    return p + width;
}

void sort_merge(uint8_t* p, uint8_t* q, uint8_t* r, uint8_t* buffer, uint32_t width, const sort_order& order)
{
    // While a merge runs, the records not yet placed are in the buffer and a gap of their size lies
    // between what is merged and what is not; an error from the compare routine refills the gap.
    struct refill {
        uint8_t* gap;
        uint8_t* first;
        uint8_t* last;
        ~refill()
        {
            if (last > first) std::memmove(gap, first, size_t(last - first));
        }
    };
    if (r - q < q - p) {
        size_t nb = size_t(r - q);
        std::memcpy(buffer, q, nb);
        uint8_t* a = q;             // one past A's last unmerged record
        uint8_t* out = r;           // one past the free end
        refill pending{a, buffer, buffer + nb};
        while (a > p && pending.last > buffer) {
            if (order(a - width, pending.last - width) > 0) {
                a -= width;
                std::memcpy(out - width, a, width);
            } else {
                pending.last -= width;
                std::memcpy(out - width, pending.last, width);
            }
            out -= width;
            pending.gap = a;
        }
        pending.gap = p;   // A is used up (or B was): the rest of the buffer goes to the front
        return;
    }
    size_t na = size_t(q - p);
    std::memcpy(buffer, p, na);
    uint8_t* b = q;
    refill pending{p, buffer, buffer + na};
    while (pending.first < pending.last && b < r) {
        if (order(pending.first, b) <= 0) {
            std::memcpy(pending.gap, pending.first, width);
            pending.first += width;
        } else {
            std::memcpy(pending.gap, b, width);
            b += width;
        }
        pending.gap += width;
    }
}

void sort_stable(void* base, uint32_t count, uint32_t width, const void* context1, uint32_t context2,
                 sort_compare_fn compare)
{
    if (count < 2) return;
    uint64_t bytes = uint64_t(width) * (count / 2);
    if (bytes > 0xFFFFFFFFu) fire(ERR_SCRIPT, err::TOO_LONG);
    std::unique_ptr<uint8_t, free_deleter> buffer(static_cast<uint8_t*>(std::malloc(size_t(bytes ? bytes : 1))));
    if (!buffer) fire(ERR_INTERNAL, err::NO_MEMORY);
    records r{static_cast<uint8_t*>(base), width, bytewise_for(width), {compare, context1, context2}};
    struct entry {
        uint32_t start, power;
    };
    entry stack[66];   // powers on the stack strictly grow and never pass log2(count) + 1
    uint32_t top = 0;
    stack[0] = {0, 0};
    const uint32_t n = count;
    uint32_t a_start = 0, a_end = extend_run(r, 0, n);
    while (a_end < n) {
        uint32_t b_end = extend_run(r, a_end, n);
        uint32_t power = boundary_power(a_start, a_end - a_start, b_end - a_end, n);
        while (stack[top].power > power) {
            sort_merge(r.at(stack[top].start), r.at(a_start), r.at(a_end), buffer.get(), width, r.order);
            a_start = stack[top--].start;
        }
        stack[++top] = {a_start, power};
        a_start = a_end;
        a_end = b_end;
    }
    for (; top > 0; top--) {
        sort_merge(r.at(stack[top].start), r.at(a_start), r.at(n), buffer.get(), width, r.order);
        a_start = stack[top].start;
    }
}

void sort_quick(void* base, uint32_t count, uint32_t width, const void* context1, uint32_t context2,
                sort_compare_fn compare)
{
    if (count < 2) return;
    records r{static_cast<uint8_t*>(base), width, bytewise_for(width), {compare, context1, context2}};
    const uint32_t n = count;
    // The first pair of unequal neighbours sets the direction; all equal: nothing to do.
    uint32_t i = 0;
    int32_t c = 0;
    while (i + 1 < n && (c = r.cmp(i, i + 1)) == 0) i++;
    if (i + 1 >= n) return;
    bool ascending = c < 0;
    auto in_order = [&](uint32_t a, uint32_t b) {
        int32_t k = r.cmp(a, b);
        return ascending ? k <= 0 : k >= 0;
    };
    uint32_t p = i + 2;
    while (p < n && in_order(p - 1, p)) p++;
    // A sampled score tells nearly ordered data from the rest.
    int64_t score = ascending ? p : -int64_t(p);
    for (uint64_t k = uint64_t(p) + 96; k + 1 < n; k += 97) {
        int32_t d = r.cmp(uint32_t(k), uint32_t(k + 1));
        score += d < 0 ? 1 : d > 0 ? -1 : 0;
    }
    if ((score < 0 ? -score : score) > int64_t(n / 512)) {
        if ((score > 0) != ascending) {
            ascending = !ascending;
            p = 1;
        }
        p = absorb_stretches(r, p, n, ascending);
    }
    if (!ascending) r.reverse(0, p);
    quick(r, 0, n, p);
}
