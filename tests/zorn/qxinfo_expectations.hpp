// qxinfo texts read back with libyaml, and the expected text of the
// binary_test kernel, shared by the qxinfo and the image tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zorn_test {

// A YAML document read back with libyaml.
struct YamlNode {
  enum class Kind { scalar, sequence, mapping } kind = Kind::scalar;
  std::string scalar;
  std::vector<YamlNode> items;
  std::vector<std::pair<std::string, YamlNode>> pairs;
  const YamlNode& operator[](const std::string& key) const;
  bool has(const std::string& key) const;
};
// Exactly one document; throws when libyaml refuses the text.
YamlNode parse_yaml(const std::string& text);

// Payload-argument entries of a qxinfo text: a by-value argument, and a
// global pointer argument in the stateful and the stateless address modes.
std::string byvalue(int index, int offset, int size);
std::string stateful(int index);
std::string stateless(int index, int offset);

// The qxinfo text of the binary_test kernel of generation `hw` (1, 3, 4, 6,
// 7, 8, 9), with the per-thread skip offset line when `skip_offset` > 0.
std::string expected_binary_test_qxinfo(int hw, int skip_offset);

}  // namespace zorn_test
