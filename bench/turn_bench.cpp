// Turning an A4 page at 300 dpi, 24 bits, by a quarter turn into its copy, against a
// memcpy of the page's bytes: a turn reads the page along its columns, a copy along its
// rows.
#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "bench/pages.h"
#include "dib/dib_simd.h"
#include "dib/dib_turn.h"

namespace {

std::vector<bench::Row> Measure()
{
    const bench::Bytes page = bench::A4PageDib();
    std::vector<std::uint8_t> copy(page.size()), turned(DibMemTurnedBytes(page.data(), page.size(), DibTurn::kClockwise));
    std::vector<bench::Row> rows;
    for (DibTurn turn : {DibTurn::kClockwise, DibTurn::kCounterClockwise}) {
        const bench::Timing t = bench::BestOf(
            [&] { DibMemTurn(page.data(), page.size(), turn, turned.data(), turned.size()); },
            [&] { std::memcpy(copy.data(), page.data(), page.size()); });
        bench::Row row;
        row.name = turn == DibTurn::kClockwise ? "quarter turn clockwise, A4 300 dpi RGB"
                                               : "quarter turn counter-clockwise, A4 300 dpi RGB";
        row.seconds = t.seconds;
        row.reference = "memcpy of the page's bytes";
        row.referenceSeconds = t.referenceSeconds;
        row.goal = 3.0;
        row.fastPath = DibHasSsse3() ? bench::FastPath::yes : bench::FastPath::no;
        rows.push_back(row);
    }
    return rows;
}

const bool registered = bench::Register(Measure, "turn");

}  // namespace
