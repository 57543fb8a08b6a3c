// qxinfo metadata: whole texts character for character, the conditional
// pieces one by one, and every text parsed back with libyaml.
#include <gtest/gtest.h>
#include <yaml.h>

#include <map>
#include <stdexcept>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/qxinfo.hpp"
#include "tests/zorn/binary_test_interface.hpp"
#include "tests/zorn/qxinfo_expectations.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::ArgumentKind;
using zorn::DataType;
using zorn::KernelInterface;
using zorn_test::byvalue;
using zorn_test::parse_yaml;
using zorn_test::stateful;
using zorn_test::stateless;
using zorn_test::YamlNode;

namespace {

// The expected document of each generation, with the offsets of the
// binary_test interface (the same byte offsets on every generation: 48, 56,
// 64, 68, 72, 80 for the scalars, 32 and 40 for the pointers, 12 for the
// fixed local sizes).
std::string expected_binary_test_text(zorn::HW hw) {
  return zorn_test::expected_binary_test_qxinfo(static_cast<int>(hw), 0);
}

class BinaryTestQxinfo : public ::testing::TestWithParam<zorn::HW> {};

TEST_P(BinaryTestQxinfo, TextCharacterForCharacter) {
  const auto g = zorn_test::make_binary_test_interface(GetParam());
  const std::string text = zorn::write_qxinfo(g->interface);
  EXPECT_EQ(text, expected_binary_test_text(GetParam()));
  // Written again, the same text.
  EXPECT_EQ(zorn::write_qxinfo(g->interface), text);
}

TEST_P(BinaryTestQxinfo, ParsedBackByYaml) {
  const zorn::HW hw = GetParam();
  const auto g = zorn_test::make_binary_test_interface(hw);
  const YamlNode root = parse_yaml(zorn::write_qxinfo(g->interface));
  EXPECT_EQ(root["version"].scalar, "1.8");
  ASSERT_EQ(root["kernels"].items.size(), 1u);
  const YamlNode& kernel = root["kernels"].items[0];
  EXPECT_EQ(kernel["name"].scalar, "binary_test");
  EXPECT_EQ(kernel["execution_env"]["grf_count"].scalar, "128");
  EXPECT_EQ(kernel["execution_env"]["simd_size"].scalar, hw >= 7 ? "16" : "8");
  const YamlNode& args = kernel["payload_arguments"];
  ASSERT_EQ(args.items.size(), hw >= 7 ? 9u : 11u);
  EXPECT_EQ(args.items[0]["arg_type"].scalar, "arg_byvalue");
  EXPECT_EQ(args.items[0]["offset"].scalar, "48");
  EXPECT_EQ(args.items.back()["arg_type"].scalar, "local_size");
  EXPECT_EQ(args.items.back()["size"].scalar, "12");
  EXPECT_EQ(kernel.has("binding_table_indices"), hw < 7);
  if (hw < 7) {
    EXPECT_EQ(kernel["binding_table_indices"].items[1]["bti_value"].scalar, "1");
  }
  EXPECT_EQ(kernel["per_thread_payload_arguments"].items[0]["size"].scalar, hw >= 7 ? "192" : "96");
}

INSTANTIATE_TEST_SUITE_P(Zorn, BinaryTestQxinfo, ::testing::Values(1, 3, 4, 6, 7, 8, 9));

// --- Pieces of the document -----------------------------------------------------------

const char* const empty_text_hw4 =
    "version: 1.8\nkernels: \n  - name: \"default_kernel\"\n    execution_env: \n      grf_count: 128\n"
    "      simd_size: 8\n      required_sub_group_size: 8\n\n";

KernelInterface finalised(zorn::HW hw, void (*setup)(KernelInterface&) = nullptr) {
  KernelInterface k(hw);
  if (setup) setup(k);
  zorn::finalize_interface(k);
  return k;
}

// The execution-environment lines of an interface without arguments.
std::string env_lines(const KernelInterface& k) {
  const std::string text = zorn::write_qxinfo(k);
  const std::string head = "      required_sub_group_size: " + std::to_string(k.simd_width) + "\n";
  const auto begin = text.find(head);
  if (begin == std::string::npos) return text;
  return text.substr(begin + head.size(), text.size() - begin - head.size() - 1);
}

TEST(Qxinfo, EmptyInterface) {
  const KernelInterface k = finalised(4);
  EXPECT_EQ(zorn::write_qxinfo(k), empty_text_hw4);
  EXPECT_NO_THROW(parse_yaml(empty_text_hw4));
}

TEST(Qxinfo, NotFinalisedThrowsBeforeWriting) {
  const KernelInterface k(4);
  try {
    zorn::write_qxinfo(k);
    FAIL();
  } catch (const zorn::interface_not_finalized& e) {
    EXPECT_STREQ(e.what(), "Interface has not been finalized");
  }
}

TEST(Qxinfo, InlineDataWithoutArguments) {
  const KernelInterface k = finalised(7, [](KernelInterface& i) { i.inline_data = true; });
  EXPECT_EQ(zorn::write_qxinfo(k),
            "version: 1.35\nkernels: \n  - name: \"default_kernel\"\n    execution_env: \n      grf_count: 128\n"
            "      simd_size: 16\n      required_sub_group_size: 16\n      inline_data_payload_size: 64\n"
            "      - arg_type: indirect_data_pointer\n        offset: 0\n        size: 8\n\n");
}

TEST(Qxinfo, SimdOneWithPackedLocalIds) {
  const KernelInterface k = finalised(4, [](KernelInterface& i) {
    i.simd_width = 1;
    i.local_ids = 1;
  });
  EXPECT_EQ(zorn::write_qxinfo(k),
            "version: 1.8\nkernels: \n  - name: \"default_kernel\"\n    execution_env: \n      grf_count: 128\n"
            "      simd_size: 1\n\n    per_thread_payload_arguments: \n      - arg_type: packed_local_ids\n"
            "        offset: 0\n        size: 6\n  \n\n");
  EXPECT_NO_THROW(parse_yaml(zorn::write_qxinfo(k)));
}

TEST(Qxinfo, LocalIdSizes) {
  const std::tuple<zorn::HW, int, const char*> cases[] = {{4, 8, "96"}, {4, 16, "96"}, {4, 32, "192"},
                                                          {6, 17, "192"}, {7, 16, "192"}, {9, 32, "192"}};
  for (const auto& [hw, simd, size] : cases) {
    KernelInterface k(hw);
    k.simd_width = simd;
    k.local_ids = 3;
    zorn::finalize_interface(k);
    const std::string text = zorn::write_qxinfo(k);
    EXPECT_NE(text.find("      - arg_type: local_id\n        offset: 0\n        size: " + std::string(size) + "\n  \n\n"),
              std::string::npos)
        << hw << " " << simd;
  }
}

TEST(Qxinfo, WalkOrderAndWorkGroupSize) {
  KernelInterface k(4);
  k.walk_order = {2, 0, -1};
  k.required_work_group_size = {4, 2, 1};
  zorn::finalize_interface(k);
  EXPECT_EQ(env_lines(k),
            "      required_work_group_size:\n        - 4\n        - 2\n        - 1\n"
            "      work_group_walk_order_dimensions:\n        - 2\n        - 0\n        - 0\n");
  KernelInterface none(4);
  none.required_work_group_size = {4, 0, 1};
  zorn::finalize_interface(none);
  EXPECT_EQ(zorn::write_qxinfo(none), empty_text_hw4);
}

TEST(Qxinfo, BarrierCountsRoundUpToPowersOfTwo) {
  const std::pair<int, const char*> cases[] = {{1, "1"}, {2, "2"}, {3, "4"}, {4, "4"}, {5, "8"}};
  for (const auto& [count, written] : cases) {
    KernelInterface k(4);
    k.barrier_count = count;
    zorn::finalize_interface(k);
    EXPECT_EQ(env_lines(k), "      barrier_count: " + std::string(written) + "\n");
  }
}

TEST(Qxinfo, FlagsAndSizesInOrder) {
  KernelInterface k(4);
  k.per_thread_data_skip_offset = 192;
  k.barrier_count = 1;
  k.has_4gb_buffers = true;
  k.uses_dpas = true;
  k.uses_global_atomics = true;
  k.shared_local_memory_size = 65536;
  k.stateless_writes = false;
  k.disable_mid_thread_preemption = true;
  k.thread_scheduling_mode = zorn::ThreadSchedulingMode::round_robin_stall;
  k.inline_data_registers = 2;
  zorn::finalize_interface(k);
  EXPECT_EQ(env_lines(k),
            "      offset_to_skip_per_thread_data_load: 192\n      barrier_count: 1\n      has_4gb_buffers: true\n"
            "      has_dpas: true\n      has_global_atomics: true\n      slm_size: 65536\n"
            "      has_no_stateless_write: true\n      disable_mid_thread_preemption: true\n"
            "      thread_scheduling_mode: round_robin_stall\n      inline_data_payload_size: 64\n");
  EXPECT_NO_THROW(parse_yaml(zorn::write_qxinfo(k)));
}

TEST(Qxinfo, ThreadSchedulingModes) {
  const std::pair<zorn::ThreadSchedulingMode, const char*> cases[] = {
      {zorn::ThreadSchedulingMode::age_based, "age_based"},
      {zorn::ThreadSchedulingMode::round_robin, "round_robin"},
      {zorn::ThreadSchedulingMode::round_robin_stall, "round_robin_stall"}};
  for (const auto& [mode, name] : cases) {
    KernelInterface k(4);
    k.thread_scheduling_mode = mode;
    zorn::finalize_interface(k);
    EXPECT_EQ(env_lines(k), "      thread_scheduling_mode: " + std::string(name) + "\n");
  }
  KernelInterface bad(4);
  bad.thread_scheduling_mode = static_cast<zorn::ThreadSchedulingMode>(4);
  zorn::finalize_interface(bad);
  try {
    zorn::write_qxinfo(bad);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unsupported thread scheduling mode");
  }
}

TEST(Qxinfo, Quantum) {
  const std::tuple<std::int32_t, std::int32_t, const char*> orders[] = {{0, 1, "0"}, {1, 0, "1"}, {-1, -1, "0"}};
  for (const auto& [d0, d1, order] : orders) {
    KernelInterface k(9);
    k.quantum_size = 8;
    k.walk_order = {d0, d1, 2};
    zorn::finalize_interface(k);
    const std::string text = zorn::write_qxinfo(k);
    EXPECT_EQ(text.rfind("version: 1.48\n", 0), 0u);
    EXPECT_NE(text.find("      quantum_size: 8\n      quantum_walk_order: " + std::string(order) +
                        "\n      quantum_partition_dimension: 0\n"),
              std::string::npos);
  }
  KernelInterface bad(9);
  bad.quantum_size = 8;
  bad.walk_order = {0, 2, 1};
  zorn::finalize_interface(bad);
  try {
    zorn::write_qxinfo(bad);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unsupported walk order");
  }
}

TEST(Qxinfo, ArgumentEntriesOfEachKind) {
  KernelInterface k(7);
  zorn::interface_add_argument(k, "h", DataType(0x82), ArgumentKind::scalar);
  zorn::interface_add_argument(k, "slm", DataType(0xa0), ArgumentKind::local_pointer);
  zorn::interface_add_argument(k, "both", DataType(0xc8), ArgumentKind::global_pointer, zorn::argument_access::both);
  zorn::interface_add_argument(k, "table", DataType(0xc8), ArgumentKind::global_pointer, zorn::argument_access::stateful);
  k.scratch_size = 64;
  k.local_size_needed = true;
  k.local_size_enqueued = true;
  zorn::finalize_interface(k);
  // slm 32, both 40 (table's 8 bytes at 48 stay used), h 56, scratch 64 -> r2 0,
  // local sizes r2 8..20.
  const std::string expected =
      "version: 1.8\nkernels: \n  - name: \"default_kernel\"\n    execution_env: \n      grf_count: 128\n"
      "      simd_size: 16\n      required_sub_group_size: 16\n"
      "\n    payload_arguments: \n" +
      byvalue(0, 56, 4) +
      "      - arg_type: arg_bypointer\n        arg_index: 1\n        offset: 32\n        size: 4\n"
      "        addrmode: slm\n        addrspace: local\n        access_type: readwrite\n\n" +
      stateful(2) + stateless(2, 40) + stateful(3) +
      "      - arg_type: enqueued_local_size\n        offset: 72\n        size: 12\n\n"
      "\n    binding_table_indices: \n      - bti_value: 0\n        arg_index: 2\n \n"
      "      - bti_value: 1\n        arg_index: 3\n \n\n";
  EXPECT_EQ(zorn::write_qxinfo(k), expected);
  const YamlNode root = parse_yaml(expected);
  EXPECT_EQ(root["kernels"].items[0]["payload_arguments"].items.size(), 6u);
}

TEST(Qxinfo, OverrideBeforeTheStartRegisterIsRefused) {
  KernelInterface k(4);
  k.argument_location_override = zorn::RegisterOperand::grf(1, DataType(0xa0), 0);  // start is r2
  zorn::interface_add_argument(k, "a", DataType(0xa0), ArgumentKind::scalar);
  zorn::finalize_interface(k);
  try {
    zorn::write_qxinfo(k);
    FAIL();
  } catch (const zorn::unsupported_argument_location_override& e) {
    EXPECT_STREQ(e.what(), "Argument register location is invalid");
  }
}

// --- Kernel names that YAML would misread ----------------------------------------

class HostileKernelName : public ::testing::TestWithParam<std::string> {};

TEST_P(HostileKernelName, IsEscapedAndReadBackUnchanged) {
  KernelInterface k(7);
  k.kernel_name = GetParam();
  zorn::interface_add_argument(k, "a\"\n  - name: evil", DataType(0xa0), ArgumentKind::scalar);
  zorn::finalize_interface(k);
  const std::string text = zorn::write_qxinfo(k);
  const YamlNode root = parse_yaml(text);
  ASSERT_EQ(root["kernels"].items.size(), 1u);
  EXPECT_EQ(root["kernels"].items[0]["name"].scalar, GetParam());
  EXPECT_EQ(root["kernels"].items[0]["payload_arguments"].items.size(), 1u);
  EXPECT_EQ(root.pairs.size(), 2u);
  // Argument names never reach the text.
  EXPECT_EQ(text.find("evil"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Zorn, HostileKernelName,
                         ::testing::Values(std::string("a\"b"), std::string("x\"\n  - name: \"injected"),
                                           std::string("key: value"), std::string("back\\slash\\\""),
                                           std::string("tab\there"), std::string("nul\0byte", 8),
                                           std::string("cr\rlf\n"), std::string("line\xE2\x80\xA8sep"),
                                           std::string("\xEF\xBB\xBF" "bom"), std::string("caf\xC3\xA9"),
                                           std::string("#comment"), std::string("{flow: [1]}"),
                                           std::string("del\x7F"), std::string("nel\xC2\x85")));

TEST(Qxinfo, EscapedNameText) {
  KernelInterface k(4);
  k.kernel_name = "a\"b\\c\nd";
  zorn::finalize_interface(k);
  EXPECT_NE(zorn::write_qxinfo(k).find("  - name: \"a\\\"b\\\\c\\nd\"\n"), std::string::npos);
}

TEST(Qxinfo, InvalidUtf8NameIsRefused) {
  for (const std::string& name : {std::string("bad\xFF"), std::string("trunc\xC3"), std::string("\xC0\xAF"),
                                 std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80")}) {
    KernelInterface k(4);
    k.kernel_name = name;
    zorn::finalize_interface(k);
    try {
      zorn::write_qxinfo(k);
      FAIL() << "accepted";
    } catch (const zorn::invalid_kernel_name_exception& e) {
      EXPECT_STREQ(e.what(), "Kernel name is not valid UTF-8");
    }
  }
}

}  // namespace
