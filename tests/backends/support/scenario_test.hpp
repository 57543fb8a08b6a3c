// Tests that apply under some environment scenarios only. Each scenario of a
// test source is its own CTest entry whose environment names it in
// BACKEND_SCENARIO (see qez_backend_scenario_tests). A test declared with
// SCENARIO_TEST(suite, name, "a", "b", ...) is registered only when the
// process's scenario is one of those listed, so the test listing, and with
// it CTest, holds under each environment only the tests that run there.
#pragma once

#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

namespace backend_test {

// The scenario of the process ("" when none is set).
std::string scenario();

// The scenario of the process is one of `names`.
bool scenario_is_one_of(std::initializer_list<const char*> names);

// Registers the test made by `Test` as suite.name when the scenario is one of
// `names`; whether it did.
template <class Test>
bool register_for_scenarios(const char* suite, const char* name, const char* file, int line,
                            std::initializer_list<const char*> names) {
  if (!scenario_is_one_of(names)) return false;
  // One fixture type for the whole suite, as gtest requires.
  ::testing::RegisterTest(suite, name, nullptr, nullptr, file, line, []() -> ::testing::Test* { return new Test; });
  return true;
}

}  // namespace backend_test

#define SCENARIO_TEST(suite, name, ...)                                                                        \
  class suite##_##name##_ScenarioTest : public ::testing::Test {                                               \
   public:                                                                                                     \
    void TestBody() override;                                                                                  \
  };                                                                                                           \
  [[maybe_unused]] const bool suite##_##name##_registered =                                                    \
      ::backend_test::register_for_scenarios<suite##_##name##_ScenarioTest>(#suite, #name, __FILE__, __LINE__, \
                                                                            {__VA_ARGS__});                    \
  void suite##_##name##_ScenarioTest::TestBody()
