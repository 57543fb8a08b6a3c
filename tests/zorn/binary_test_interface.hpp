// Test-side helper: a generator whose interface is declared and finalised the
// way the binary_test kernel declares its arguments and execution values.
#pragma once

#include <memory>

#include "gpu/zorn/code_generator.hpp"

namespace zorn_test {

std::unique_ptr<ulmara::qez::zorn::CodeGenerator> make_binary_test_interface(ulmara::qez::zorn::HW hw);

}  // namespace zorn_test
