// Test-side readers of qxbin images, independent of the image writer: an
// expected image assembled from the layout tables with literal offsets, an
// <elf.h> reader, the binutils tools run on an image file, and a YAML tree
// read back with libyaml.
#pragma once

#include "tests/zorn/qxinfo_expectations.hpp"

#include <elf.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorn_test {

using Bytes = std::vector<std::uint8_t>;

// The image the layout tables describe, written byte by byte at literal
// offsets (ELF header at 0, section headers at 64, note at 384, string
// table at 408).
Bytes expected_qxbin_image(const std::string& kernel_name, const std::string& qxinfo, const Bytes& code,
                           std::uint32_t core_family);

// An image read through the <elf.h> structures.
struct ElfSection {
  Elf64_Shdr header;
  std::string name;  // looked up in the section-name string table
  Bytes data;
};
struct ElfNote {
  std::uint32_t namesz, descsz, type;
  std::string owner;  // without its NUL
  std::uint32_t descriptor;
};
struct ElfImage {
  Elf64_Ehdr header;
  std::vector<ElfSection> sections;
  ElfNote note;  // of the first SHT_NOTE section
};
// Throws std::runtime_error when the bytes are no well-formed image.
ElfImage read_elf_image(const Bytes& image);
const ElfSection& section_named(const ElfImage& image, const std::string& name);

// Writes the bytes to a fresh temporary file and removes it on destruction.
class TempFile {
 public:
  explicit TempFile(const Bytes& bytes);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs a shell command; returns its exit status and standard output.
std::pair<int, std::string> run_command(const std::string& command);

// readelf -S: one row per section header, in index order.
struct ReadelfSection {
  unsigned index;
  std::string name, type;
  std::uint64_t offset, size;
  std::string flags;
};
std::vector<ReadelfSection> parse_readelf_sections(const std::string& output);
// readelf -h: "Key: value" lines.
std::string readelf_header_value(const std::string& output, const std::string& key);
// objdump -s: the bytes printed for one section ("Contents of section X:").
Bytes parse_objdump_contents(const std::string& output, const std::string& section);

}  // namespace zorn_test
