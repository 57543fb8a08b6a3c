// qez_codelet_generator OUTPUT_DIR
// Writes OUTPUT_DIR/program_texts_generated.cpp (the texts of every program
// family and every program template, embedded), OUTPUT_DIR/<family>_<s|d>.cl
// and OUTPUT_DIR/<template>.cl (the same texts, for reading and debugging),
// and OUTPUT_DIR/esimd_unit_roots_generated.hpp (the explicit-SIMD engine's
// roots of unity).
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "embed.hpp"
#include "esimd_unit_roots.hpp"
#include "families.hpp"

namespace {

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  if (!out) std::cerr << "qez_codelet_generator: cannot write " << path << '\n';
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qez_codelet_generator OUTPUT_DIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  using qez_codelets::precision;
  std::vector<qez_codelets::embedded_family> embedded;
  bool ok = true;
  for (const qez_codelets::program_family& family : qez_codelets::program_families()) {
    embedded.push_back({family.name, program_text(family, precision::single_precision),
                        program_text(family, precision::double_precision)});
    ok &= write_file(dir + "/" + family.name + "_s.cl", embedded.back().single_text);
    ok &= write_file(dir + "/" + family.name + "_d.cl", embedded.back().double_text);
  }
  for (const qez_codelets::program_template& t : qez_codelets::program_templates()) {
    const std::string text = template_text(t);
    embedded.push_back({t.name, text, text});
    ok &= write_file(dir + "/" + t.name + ".cl", text);
  }
  std::ofstream source(dir + "/program_texts_generated.cpp", std::ios::binary);
  write_embedding_source(source, embedded);
  source.close();
  ok &= static_cast<bool>(source);
  std::ostringstream roots;
  qez_codelets::write_esimd_unit_roots(roots);
  ok &= write_file(dir + "/esimd_unit_roots_generated.hpp", roots.str());
  return ok ? 0 : 1;
}
