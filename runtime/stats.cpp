// The memory report. The collector is held off while the lists are walked, so nothing moves or is
// freed under the walk; the result block's cell must not move (argument stack or root block).
#include "runtime/stats.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/memory.h"
#include "runtime/rterror.h"

namespace {

void append_integer(cell* blk, uint32_t value, bool new_line)
{
    cell c{TYPE_INTEGER | (new_line ? HEADER_NEW_LINE : 0), 0, value, 0};
    block::rs_append(blk, &c);
}

// Totals are integer! while they fit, float! beyond.
void append_total(cell* blk, double total)
{
    cell c{TYPE_INTEGER, 0, 0, 0};
    if (total <= 2147483647.0) c.data2 = uint32_t(total);
    else {
        c.header = TYPE_FLOAT;
        cell_set_float(&c, total);
    }
    block::rs_append(blk, &c);
}

void append_triple(cell* outer, uint32_t a, uint32_t b, uint32_t c)
{
    cell* sub = block::make_in(outer, 3);
    sub->header |= HEADER_NEW_LINE;
    cell sub_copy = *sub;   // the outer block may not move, but keep to the rule
    append_integer(&sub_copy, a, false);
    append_integer(&sub_copy, b, false);
    append_integer(&sub_copy, c, false);
}

}  // namespace

double memory::stats(cell* blk, int32_t level)
{
    collector_hold hold;
    double result = 0.0;
    if (level == 1) {
        double used = 0;
        for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) used += 4.0 * at<node_frame>(r)->used;
        for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) {
            series_frame* f = at<series_frame>(r);
            used += f->heap - (r + uint32_t(sizeof(series_frame)));
        }
        for (uint32_t r = memory_s.big_first; r; r = at<big_block>(r)->next) used += at<big_block>(r)->need;
        result = used;
    } else if (level > 1) {
        double total = 0;
        cell nodes = *block::make_in(blk, 8);
        for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) {
            node_frame* f = at<node_frame>(r);
            append_triple(&nodes, f->capacity - f->used, f->used, f->capacity);
            total += 4.0 * f->capacity + 36;
        }
        cell frames = *block::make_in(blk, 8);
        for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) {
            series_frame* f = at<series_frame>(r);
            uint32_t start = r + uint32_t(sizeof(series_frame));
            append_triple(&frames, f->end - f->heap, f->heap - start, f->end - start);
            total += double(f->size) + 20;
        }
        cell bigs = *block::make_in(blk, 8);
        for (uint32_t r = memory_s.big_first; r; r = at<big_block>(r)->next) {
            append_integer(&bigs, at<big_block>(r)->need, true);
            total += double(at<big_block>(r)->need) + 12;
        }
        double heap = double(rt_heap_total());
        append_total(blk, total + heap);
        append_total(blk, heap);
    }
    return result;
}
