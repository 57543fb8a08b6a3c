// Test-side image readers.
#include "tests/zorn/image/image_test_support.hpp"

#include <yaml.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorn_test {
namespace {

void put_le(Bytes& image, std::size_t offset, std::uint64_t value, unsigned bytes) {
  for (unsigned b = 0; b < bytes; ++b) image.at(offset + b) = static_cast<std::uint8_t>(value >> (8 * b));
}

void put_text(Bytes& image, std::size_t offset, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) image.at(offset + i) = static_cast<std::uint8_t>(text[i]);
}

std::size_t align16(std::size_t v) { return (v + 15) / 16 * 16; }

// One section header row of the layout table.
void put_section_header(Bytes& image, unsigned index, std::uint32_t name, std::uint32_t type, std::uint64_t flags,
                        std::uint64_t offset, std::uint64_t size) {
  const std::size_t base = 64 + 64 * index;
  put_le(image, base + 0, name, 4);
  put_le(image, base + 4, type, 4);
  put_le(image, base + 8, flags, 8);
  put_le(image, base + 24, offset, 8);
  put_le(image, base + 32, size, 8);
  put_le(image, base + 48, 16, 8);  // sh_addralign
}

template <class T>
T load(const Bytes& image, std::size_t offset) {
  if (offset + sizeof(T) > image.size()) throw std::runtime_error("image too short");
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}


std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

Bytes expected_qxbin_image(const std::string& kernel_name, const std::string& qxinfo, const Bytes& code,
                           std::uint32_t core_family) {
  const std::size_t n = kernel_name.size();
  const std::size_t S = n + 48;
  const std::size_t Q = (n + 472) & ~std::size_t{15};
  const std::size_t T = Q + align16(qxinfo.size());
  Bytes image(T + align16(code.size()), 0);

  // ELF header.
  put_le(image, 0, 0x464C457F, 4);  // 0x7F 'E' 'L' 'F'
  image[4] = 2;                     // 64-bit
  image[5] = 1;                     // little-endian
  image[6] = 1;
  put_le(image, 16, 1, 2);    // relocatable
  put_le(image, 18, 205, 2);  // machine
  put_le(image, 20, 1, 4);
  put_le(image, 40, 64, 8);  // section headers at 64
  put_le(image, 52, 64, 2);
  put_le(image, 58, 64, 2);
  put_le(image, 60, 5, 2);
  put_le(image, 62, 1, 2);

  // Section headers.
  put_section_header(image, 0, 0, 0, 0, 0, 0);
  put_section_header(image, 1, 1, 3, 0, 408, S);
  put_section_header(image, 2, 11, 0xFF000011, 0, Q, qxinfo.size());
  put_section_header(image, 3, 41, 1, 6, T, code.size());
  put_section_header(image, 4, 20, 7, 0, 384, 24);

  // Note.
  put_le(image, 384, 8, 4);
  put_le(image, 388, 4, 4);
  put_le(image, 392, 2, 4);
  put_text(image, 396, "TavirGT");
  put_le(image, 404, core_family, 4);

  // String table: NUL, ".shstrtab", ".qx_info", ".note.tavirgt.compat", ".text." + name.
  put_text(image, 409, ".shstrtab");
  put_text(image, 419, ".qx_info");
  put_text(image, 428, ".note.tavirgt.compat");
  put_text(image, 449, ".text.");
  put_text(image, 455, kernel_name);

  put_text(image, Q, qxinfo);
  for (std::size_t i = 0; i < code.size(); ++i) image[T + i] = code[i];
  return image;
}

ElfImage read_elf_image(const Bytes& image) {
  ElfImage out{};
  out.header = load<Elf64_Ehdr>(image, 0);
  const Elf64_Ehdr& h = out.header;
  if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0) throw std::runtime_error("no ELF magic");
  if (h.e_ident[EI_CLASS] != ELFCLASS64 || h.e_ident[EI_DATA] != ELFDATA2LSB) throw std::runtime_error("not ELF64 LE");
  if (h.e_shentsize != sizeof(Elf64_Shdr)) throw std::runtime_error("section header size");
  std::vector<Elf64_Shdr> headers;
  for (unsigned i = 0; i < h.e_shnum; ++i) headers.push_back(load<Elf64_Shdr>(image, h.e_shoff + i * sizeof(Elf64_Shdr)));
  if (h.e_shstrndx >= headers.size()) throw std::runtime_error("string table index");
  const Elf64_Shdr& strings = headers[h.e_shstrndx];
  if (strings.sh_offset + strings.sh_size > image.size()) throw std::runtime_error("string table range");
  for (const Elf64_Shdr& header : headers) {
    ElfSection section{header, {}, {}};
    if (header.sh_name >= strings.sh_size) throw std::runtime_error("section name range");
    const char* name = reinterpret_cast<const char*>(image.data() + strings.sh_offset + header.sh_name);
    section.name.assign(name, strnlen(name, strings.sh_size - header.sh_name));
    if (header.sh_type != SHT_NULL) {
      if (header.sh_offset + header.sh_size > image.size()) throw std::runtime_error("section range");
      section.data.assign(image.begin() + static_cast<std::ptrdiff_t>(header.sh_offset),
                          image.begin() + static_cast<std::ptrdiff_t>(header.sh_offset + header.sh_size));
    }
    out.sections.push_back(std::move(section));
  }
  for (const ElfSection& section : out.sections) {
    if (section.header.sh_type != SHT_NOTE) continue;
    const Elf64_Nhdr note = load<Elf64_Nhdr>(section.data, 0);
    out.note.namesz = note.n_namesz;
    out.note.descsz = note.n_descsz;
    out.note.type = note.n_type;
    const std::size_t name_at = sizeof(Elf64_Nhdr);
    const std::size_t desc_at = name_at + ((note.n_namesz + 3) & ~3u);
    if (desc_at + note.n_descsz > section.data.size()) throw std::runtime_error("note range");
    const char* owner = reinterpret_cast<const char*>(section.data.data() + name_at);
    out.note.owner.assign(owner, strnlen(owner, note.n_namesz));
    out.note.descriptor = load<std::uint32_t>(section.data, desc_at);
    break;
  }
  return out;
}

const ElfSection& section_named(const ElfImage& image, const std::string& name) {
  for (const ElfSection& section : image.sections)
    if (section.name == name) return section;
  throw std::runtime_error("no section " + name);
}

TempFile::TempFile(const Bytes& bytes) {
  char pattern[] = "/tmp/qxbin_test_XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("mkstemp");
  path_ = pattern;
  const ssize_t written = write(fd, bytes.data(), bytes.size());
  close(fd);
  if (written != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("short write");
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

std::pair<int, std::string> run_command(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("popen");
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) output.append(buffer, got);
  const int status = pclose(pipe);
  return {status, output};
}

std::vector<ReadelfSection> parse_readelf_sections(const std::string& output) {
  // Wide rows: "  [ 1] .shstrtab  STRTAB  0000000000000000 000198 00003b 00      0   0 16"
  std::vector<ReadelfSection> rows;
  for (const std::string& line : lines_of(output)) {
    const auto open = line.find('[');
    const auto close = line.find(']');
    if (open == std::string::npos || close == std::string::npos || line.find("Nr]") != std::string::npos) continue;
    ReadelfSection row{};
    try {
      row.index = static_cast<unsigned>(std::stoul(line.substr(open + 1, close - open - 1)));
    } catch (const std::exception&) {
      continue;
    }
    std::istringstream fields(line.substr(close + 1));
    std::vector<std::string> words;
    for (std::string w; fields >> w;) words.push_back(w);
    // The null section has no name: its first word is the type.
    if (row.index == 0) words.insert(words.begin(), "");
    if (words.size() < 8) continue;
    row.name = words[0];
    row.type = words[1];
    row.offset = std::stoull(words[3], nullptr, 16);
    row.size = std::stoull(words[4], nullptr, 16);
    // Flags are present only when the column is not empty: 6 numeric
    // columns follow the name otherwise.
    row.flags = words.size() == 10 ? words[6] : "";
    rows.push_back(row);
  }
  return rows;
}

std::string readelf_header_value(const std::string& output, const std::string& key) {
  for (const std::string& line : lines_of(output)) {
    const auto at = line.find(key + ":");
    if (at == std::string::npos) continue;
    std::string value = line.substr(at + key.size() + 1);
    const auto first = value.find_first_not_of(' ');
    return first == std::string::npos ? "" : value.substr(first);
  }
  return "";
}

Bytes parse_objdump_contents(const std::string& output, const std::string& section) {
  Bytes bytes;
  bool inside = false;
  for (const std::string& line : lines_of(output)) {
    if (line.rfind("Contents of section ", 0) == 0) {
      inside = line == "Contents of section " + section + ":";
      continue;
    }
    if (!inside || line.size() < 2 || line[0] != ' ') continue;
    // " 0000 7665 7273 696f 6e3a 2031 2e38 0a6b 6572  version: 1.8.ker"
    std::istringstream fields(line);
    std::string address;
    fields >> address;
    for (int group = 0; group < 4; ++group) {
      std::string hex;
      const auto before = fields.tellg();
      if (!(fields >> hex)) break;
      // The ASCII column starts after two blanks; stop at a word that is no
      // hex group of at most 8 digits.
      if (hex.size() > 8 || hex.find_first_not_of("0123456789abcdef") != std::string::npos ||
          line.substr(static_cast<std::size_t>(before), 2) == "  ") {
        break;
      }
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
  }
  return bytes;
}

}  // namespace zorn_test
