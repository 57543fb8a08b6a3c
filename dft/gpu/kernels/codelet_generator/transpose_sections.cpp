#include "transpose_sections.hpp"

namespace qez_codelets {

namespace {

const char kernel_text[] = R"(/* ---- Tiled transpose ------------------------------------------------------
 * The matrix is NUM_ROWS rows of NUM_COLS complex values, each two 32-bit
 * words. The host's range is {row blocks, column items}, so OpenCL dimension
 * 0 counts column items and dimension 1 row blocks. Work-group (b, c) moves the
 * tile of TILE_ROWS rows (VECTOR_WRITE_SIZE x SUBGROUP_SIZE / 2) and
 * TILE_WORDS words (WORK_GROUP_SIZE x VECTOR_READ_SIZE) that starts at row
 * b x TILE_ROWS and word c x TILE_WORDS: it reads the tile row by row into
 * local memory, then writes each of its complex columns as a row of the
 * NUM_COLS x NUM_ROWS result. The work-items walk the tile with stride
 * WORK_GROUP_SIZE, so reads and writes go to consecutive words. */
#if defined(KERNEL_FUNC)

#if VECTOR_READ_SIZE != 1 && VECTOR_READ_SIZE != 2 && VECTOR_READ_SIZE != 4 && VECTOR_READ_SIZE != 8
#error "Invalid VECTOR_READ_SIZE"
#endif
#if VECTOR_WRITE_SIZE != 1 && VECTOR_WRITE_SIZE != 2 && VECTOR_WRITE_SIZE != 4 && VECTOR_WRITE_SIZE != 8
#error "Invalid VECTOR_WRITE_SIZE"
#endif

#define TILE_ROWS (VECTOR_WRITE_SIZE * (SUBGROUP_SIZE / 2))
#define TILE_WORDS (WORK_GROUP_SIZE * VECTOR_READ_SIZE)
#define TILE_COLS (TILE_WORDS / 2)

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
void KERNEL_FUNC(const global uint *in, global uint *out, local uint *tile)
{
    const uint lid = get_local_id(0);
    const ulong row0 = (ulong)get_group_id(1) * TILE_ROWS;
    const ulong word0 = (ulong)get_group_id(0) * TILE_WORDS;
    const ulong col0 = word0 / 2;

    for (uint e = lid; e < TILE_ROWS * TILE_WORDS; e += WORK_GROUP_SIZE) {
        const uint r = e / TILE_WORDS;
        const uint w = e % TILE_WORDS;
        tile[e] = in[(row0 + r) * (2 * (ulong)NUM_COLS) + word0 + w];
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    for (uint e = lid; e < TILE_COLS * 2 * TILE_ROWS; e += WORK_GROUP_SIZE) {
        const uint c = e / (2 * TILE_ROWS);
        const uint q = e % (2 * TILE_ROWS);
        out[(col0 + c) * (2 * (ulong)NUM_ROWS) + 2 * row0 + q] = tile[(q / 2) * TILE_WORDS + 2 * c + (q & 1)];
    }
}

#endif

)";

}  // namespace

void write_transpose_kernel(std::ostream& out, precision) { out << kernel_text; }

}  // namespace qez_codelets
