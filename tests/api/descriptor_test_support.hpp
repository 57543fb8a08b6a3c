// Helpers of the descriptor tests: exact-message expectations and the
// queues of the two device kinds.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ulmara/qez/dft.hpp"

namespace qez_api_test {

namespace dft = ulmara::qez::dft;
using dft::config_param;
using dft::config_value;
using dft::domain;
using dft::precision;
using P = dft::config_param;
using V = dft::config_value;

using single_complex = dft::descriptor<precision::SINGLE, domain::COMPLEX>;
using single_real = dft::descriptor<precision::SINGLE, domain::REAL>;
using double_complex = dft::descriptor<precision::DOUBLE, domain::COMPLEX>;
using double_real = dft::descriptor<precision::DOUBLE, domain::REAL>;

// Runs `body` and expects an exception of type E whose what() is `message`.
template <class E, class Body>
void expect_message(Body body, const std::string& message) {
  try {
    body();
    ADD_FAILURE() << "no exception; expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "other exception: " << e.what() << "; expected: " << message;
  }
}

inline sycl::queue& cpu_queue() {
  static sycl::queue q(sycl::cpu_selector_v);
  return q;
}
inline sycl::queue& gpu_queue() {
  static sycl::queue q(sycl::gpu_selector_v);
  return q;
}

template <class D>
dft::config_value commit_status(const D& d) {
  dft::config_value v{};
  d.get_value(dft::config_param::COMMIT_STATUS, &v);
  return v;
}

const std::string set_prefix = "ulmara::qez::dft::set_value: invalid argument: ";
const std::string get_prefix = "ulmara::qez::dft::get_value: invalid argument: ";
const std::string truncation_text =
    "A truncation or conversion error was caught in a required conversion (internal to Qezlib "
    "DFT domain).";
const std::string sign_text =
    "A sign was lost in a required conversion (internal to Qezlib DFT domain).";
const std::string wrong_type_text =
    "invalid type of configuration value for the targeted parameter.";
const std::string invalid_value_text =
    "invalid configuration value for the targeted configuration parameter "
    "ulmara::qez::dft::config_param::";
const std::string moved_from_text = "This moved-from descriptor must be re-assigned before reuse.";

}  // namespace qez_api_test
