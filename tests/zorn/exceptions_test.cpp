// Every generator exception: its class, its base and its fixed message.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "gpu/zorn/exceptions.hpp"

namespace zorn = ulmara::qez::zorn;

namespace {

struct ExceptionCase {
  const char* name;
  std::function<void()> raise;
  const char* message;
};

template <class E>
ExceptionCase make_case(const char* name, const char* message) {
  return {name, [] { throw E(); }, message};
}

const std::vector<ExceptionCase> cases{
    make_case<zorn::interface_not_finalized>("interface_not_finalized", "Interface has not been finalized"),
    make_case<zorn::unsupported_argument_location_override>("unsupported_argument_location_override",
                                                            "Argument register location is invalid"),
    make_case<zorn::unfinished_stream_exception>("unfinished_stream_exception",
                                                 "An unfinished instruction stream is still active"),
    make_case<zorn::dangling_label_exception>("dangling_label_exception",
                                              "A label was referenced, but its location was not defined"),
    make_case<zorn::multiple_label_exception>("multiple_label_exception", "Label already has a location"),
    make_case<zorn::unknown_argument_exception>("unknown_argument_exception", "Argument not found"),
    make_case<zorn::invalid_directive_exception>("invalid_directive_exception", "Invalid directive"),
    make_case<zorn::invalid_range_exception>("invalid_range_exception", "Invalid register range"),
    make_case<zorn::invalid_region_exception>("invalid_region_exception", "Unsupported register region"),
    make_case<zorn::invalid_object_exception>("invalid_object_exception", "Object is invalid"),
    make_case<zorn::missing_type_exception>("missing_type_exception", "Operand is missing its type"),
    make_case<zorn::limited_to_256_grf_exception>("limited_to_256_grf_exception",
                                                  "This instruction only supports r0-r255"),
    make_case<zorn::invalid_immediate_exception>("invalid_immediate_exception", "Invalid immediate value"),
    make_case<zorn::invalid_model_exception>("invalid_model_exception", "Invalid addressing model specified"),
    make_case<zorn::read_only_exception>("read_only_exception", "Memory model is read-only"),
    make_case<zorn::invalid_modifiers_exception>("invalid_modifiers_exception", "Invalid or conflicting modifiers"),
    make_case<zorn::invalid_operand_exception>("invalid_operand_exception", "Invalid operand to instruction"),
    make_case<zorn::invalid_type_exception>("invalid_type_exception",
                                            "Instruction does not support this type or combination of types"),
    make_case<zorn::invalid_address_modifier_exception>("invalid_address_modifier_exception",
                                                        "Invalid address offset or scaling factor"),
    make_case<zorn::interface_already_finalized>("interface_already_finalized",
                                                 "Interface has already been finalized"),
    make_case<zorn::invalid_kernel_name_exception>("invalid_kernel_name_exception",
                                                   "Kernel name is not valid UTF-8"),
};

class ZornException : public ::testing::TestWithParam<ExceptionCase> {};

TEST_P(ZornException, IsARuntimeErrorWithItsFixedMessage) {
  const ExceptionCase& c = GetParam();
  try {
    c.raise();
    FAIL() << c.name << " was not thrown";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(Zorn, ZornException, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZornExceptionClasses, AreDistinct) {
  EXPECT_THROW(throw zorn::invalid_range_exception(), zorn::invalid_range_exception);
  bool caught_as_other = false;
  try {
    throw zorn::invalid_range_exception();
  } catch (const zorn::invalid_region_exception&) {
    caught_as_other = true;
  } catch (const zorn::invalid_range_exception&) {
  }
  EXPECT_FALSE(caught_as_other);
}

}  // namespace
