#include "dft/gpu/core/dim_list.hpp"

#include "core_test_support.hpp"

namespace {

using namespace core_test;

struct list_guard {
  dim_list list{};
  ~list_guard() { dim_list_free(&list); }
};

void fill(dim_list* list, std::initializer_list<dim_record> records) {
  ASSERT_EQ(dim_list_init(list, static_cast<std::int32_t>(records.size()), nullptr), 0);
  std::int32_t k = 0;
  for (const dim_record& r : records) list->records[k++] = r;
}

TEST(DimList, InitAllocatesAlignedArrayAndKeepsTheCountOnFailure) {
  no_injection_at_exit reset;
  list_guard g;
  EXPECT_EQ(dim_list_init(&g.list, 3, nullptr), 0);
  EXPECT_EQ(g.list.count, 3);
  ASSERT_NE(g.list.records, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(g.list.records) % 64, 0u);

  list_guard failing;
  qez_standin_fail_allocations(0, 1);
  EXPECT_EQ(dim_list_init(&failing.list, 3, nullptr), 1);
  EXPECT_EQ(failing.list.count, 3);
  EXPECT_EQ(failing.list.records, nullptr);
}

TEST(DimList, FreeKeepsTheCountAndIgnoresEmptyLists) {
  list_guard g;
  fill(&g.list, {{2, 1, 1, 0, 0}});
  dim_list_free(&g.list);
  EXPECT_EQ(g.list.records, nullptr);
  EXPECT_EQ(g.list.count, 1);
  dim_list_free(&g.list);
  dim_list_free(nullptr);
}

TEST(DimList, CopyOntoALargerListReusesItsArray) {
  list_guard source, target;
  fill(&source.list, {{8, 1, 1, 0, 0}, {4, 8, 8, 0, 0}});
  fill(&target.list, {{1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}});
  dim_record* array = target.list.records;
  ASSERT_EQ(dim_list_copy(&target.list, &source.list, dim_copy_all, nullptr), 0);
  EXPECT_EQ(target.list.records, array);
  EXPECT_EQ(target.list.count, 2);
  EXPECT_EQ(records_of(target.list), records_of(source.list));
}

TEST(DimList, CopyOntoASmallerListGrowsItOrLeavesItAsItWas) {
  no_injection_at_exit reset;
  list_guard source, target;
  fill(&source.list, {{8, 1, 1, 0, 0}, {4, 8, 8, 0, 0}});
  fill(&target.list, {{5, 2, 3, 0, 0}});
  const auto before = records_of(target.list);
  dim_record* array = target.list.records;
  qez_standin_fail_allocations(0, 1);
  EXPECT_EQ(dim_list_copy(&target.list, &source.list, dim_copy_all, nullptr), 1);
  EXPECT_EQ(target.list.records, array);
  EXPECT_EQ(records_of(target.list), before);
  qez_standin_fail_allocations(0, 0);
  EXPECT_EQ(dim_list_copy(&target.list, &source.list, dim_copy_all, nullptr), 0);
  EXPECT_EQ(records_of(target.list), records_of(source.list));
}

TEST(DimList, InPlaceCopyModeMirrorsInputAndForwardSides) {
  list_guard source, target;
  fill(&source.list, {{8, 1, 5, 2, 7}});
  ASSERT_EQ(dim_list_copy(&target.list, &source.list, dim_copy_inplace, nullptr), 0);
  EXPECT_EQ(target.list.records[0], (dim_record{8, 1, 1, 2, 2}));
}

TEST(DimList, SortOrdersByStrideOfThePopulatedConvention) {
  list_guard io, fb;
  fill(&io.list, {{2, 64, 64, 0, 0}, {3, 1, 1, 0, 0}, {4, 8, 8, 0, 0}});
  dim_list_sort(&io.list);
  EXPECT_EQ(io.list.records[0].input, 1);
  EXPECT_EQ(io.list.records[1].input, 8);
  EXPECT_EQ(io.list.records[2].input, 64);
  EXPECT_EQ(io.list.records[2].length, 2);
  fill(&fb.list, {{2, 0, 0, 30, 30}, {3, 0, 0, 10, 10}});
  dim_list_sort(&fb.list);
  EXPECT_EQ(fb.list.records[0].forward, 10);
}

TEST(DimList, SortNeverSwapsTies) {
  list_guard g;
  fill(&g.list, {{2, 4, 4, 0, 0}, {3, 4, 9, 0, 0}});
  dim_list_sort(&g.list);
  EXPECT_EQ(g.list.records[0].length, 2);
}

TEST(DimList, DropUnitKeepsAtLeastOneRecord) {
  list_guard a, b;
  fill(&a.list, {{1, 1, 1, 0, 0}, {5, 2, 2, 0, 0}, {1, 10, 10, 0, 0}});
  dim_list_drop_unit(&a.list);
  ASSERT_EQ(a.list.count, 1);
  EXPECT_EQ(a.list.records[0].length, 5);
  fill(&b.list, {{1, 1, 1, 0, 0}, {1, 2, 2, 0, 0}});
  dim_list_drop_unit(&b.list);
  ASSERT_EQ(b.list.count, 1);
  EXPECT_EQ(b.list.records[0].length, 1);
}

TEST(DimList, MergeJoinsContiguousRecordsOnly) {
  list_guard joined, apart, chain;
  fill(&joined.list, {{4, 1, 1, 1, 1}, {3, 4, 4, 4, 4}});
  dim_list_merge(&joined.list);
  ASSERT_EQ(joined.list.count, 1);
  EXPECT_EQ(joined.list.records[0], (dim_record{12, 1, 1, 1, 1}));

  fill(&apart.list, {{4, 1, 1, 1, 1}, {3, 5, 5, 5, 5}});
  dim_list_merge(&apart.list);
  EXPECT_EQ(apart.list.count, 2);

  // Zero fields on both sides (the convention not in use) never block.
  fill(&chain.list, {{2, 1, 1, 0, 0}, {3, 2, 2, 0, 0}, {5, 6, 6, 0, 0}, {7, 100, 100, 0, 0}});
  dim_list_merge(&chain.list);
  ASSERT_EQ(chain.list.count, 2);
  EXPECT_EQ(chain.list.records[0], (dim_record{30, 1, 1, 0, 0}));
  EXPECT_EQ(chain.list.records[1], (dim_record{7, 100, 100, 0, 0}));
}

}  // namespace
