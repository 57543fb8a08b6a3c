// qxinfo texts read back with libyaml, and the expected text of the
// binary_test kernel, shared by the qxinfo and the image tests.
#include "tests/zorn/qxinfo_expectations.hpp"

#include <yaml.h>

#include <stdexcept>

namespace zorn_test {
namespace {

YamlNode convert(yaml_document_t* doc, yaml_node_t* node) {
  YamlNode out;
  switch (node->type) {
    case YAML_SCALAR_NODE:
      out.scalar.assign(reinterpret_cast<const char*>(node->data.scalar.value), node->data.scalar.length);
      break;
    case YAML_SEQUENCE_NODE:
      out.kind = YamlNode::Kind::sequence;
      for (yaml_node_item_t* i = node->data.sequence.items.start; i < node->data.sequence.items.top; ++i)
        out.items.push_back(convert(doc, yaml_document_get_node(doc, *i)));
      break;
    case YAML_MAPPING_NODE:
      out.kind = YamlNode::Kind::mapping;
      for (yaml_node_pair_t* p = node->data.mapping.pairs.start; p < node->data.mapping.pairs.top; ++p)
        out.pairs.emplace_back(convert(doc, yaml_document_get_node(doc, p->key)).scalar,
                               convert(doc, yaml_document_get_node(doc, p->value)));
      break;
    default: break;
  }
  return out;
}

}  // namespace

const YamlNode& YamlNode::operator[](const std::string& key) const {
  for (const auto& p : pairs)
    if (p.first == key) return p.second;
  throw std::out_of_range("no key " + key);
}

bool YamlNode::has(const std::string& key) const {
  for (const auto& p : pairs)
    if (p.first == key) return true;
  return false;
}

// Exactly one document; throws when libyaml refuses the text.
YamlNode parse_yaml(const std::string& text) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) throw std::runtime_error("yaml parser");
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  yaml_document_t doc;
  if (!yaml_parser_load(&parser, &doc)) {
    const std::string problem = parser.problem ? parser.problem : "?";
    yaml_parser_delete(&parser);
    throw std::runtime_error("yaml: " + problem);
  }
  yaml_node_t* root = yaml_document_get_root_node(&doc);
  if (root == nullptr) {
    yaml_document_delete(&doc);
    yaml_parser_delete(&parser);
    throw std::runtime_error("yaml: empty document");
  }
  YamlNode tree = convert(&doc, root);
  yaml_document_delete(&doc);
  yaml_document_t second;
  const bool loaded = yaml_parser_load(&parser, &second) != 0;
  const bool more = loaded && yaml_document_get_root_node(&second) != nullptr;
  if (loaded) yaml_document_delete(&second);
  yaml_parser_delete(&parser);
  if (more) throw std::runtime_error("yaml: more than one document");
  return tree;
}

std::string byvalue(int index, int offset, int size) {
  return "      - arg_type: arg_byvalue\n        arg_index: " + std::to_string(index) + "\n        offset: " +
         std::to_string(offset) + "\n        size: " + std::to_string(size) + "\n\n";
}
std::string stateful(int index) {
  return "      - arg_type: arg_bypointer\n        arg_index: " + std::to_string(index) +
         "\n        offset: 0\n        size: 0\n        addrmode: stateful\n        addrspace: global\n"
         "        access_type: readwrite\n\n";
}
std::string stateless(int index, int offset) {
  return "      - arg_type: arg_bypointer\n        arg_index: " + std::to_string(index) + "\n        offset: " +
         std::to_string(offset) +
         "\n        size: 8\n        addrmode: stateless\n        addrspace: global\n        access_type: readwrite\n\n";
}

std::string expected_binary_test_qxinfo(int hw, int skip_offset) {
  const bool wide = hw >= 7;
  const std::string simd = wide ? "16" : "8";
  std::string t = "version: 1.8\nkernels: \n  - name: \"binary_test\"\n    execution_env: \n      grf_count: 128\n"
                  "      simd_size: " + simd + "\n      required_sub_group_size: " + simd + "\n";
  if (skip_offset > 0) t += "      offset_to_skip_per_thread_data_load: " + std::to_string(skip_offset) + "\n";
  if (hw == 6) t += "      inline_data_payload_size: 32\n";
  t += "\n    payload_arguments: \n";
  t += byvalue(0, 48, 4) + byvalue(1, 56, 8) + byvalue(2, 64, 4) + byvalue(3, 68, 4) + byvalue(4, 72, 8) +
       byvalue(5, 80, 8);
  if (!wide) t += stateful(6);
  t += stateless(6, 32);
  if (!wide) t += stateful(7);
  t += stateless(7, 40);
  t += "      - arg_type: local_size\n        offset: 12\n        size: 12\n\n";
  if (!wide)
    t += "\n    binding_table_indices: \n      - bti_value: 0\n        arg_index: 6\n \n"
         "      - bti_value: 1\n        arg_index: 7\n \n";
  t += "\n    per_thread_payload_arguments: \n      - arg_type: local_id\n        offset: 0\n        size: ";
  t += wide ? "192" : "96";
  t += "\n  \n\n";
  return t;
}

}  // namespace zorn_test
