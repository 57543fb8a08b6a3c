// Fuzzes what the library reads from driver binaries: the splice of a
// device binary into a program package, the record checksum, and the
// architecture decoding of qxbin images and packages.
//
// Input: u16 binary size, u16 extra size (little endian, clamped to what
// follows), the binary, the extra block, then the image (package or
// device binary); the first four image bytes also serve as an IP version.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gpu/service/architecture_decode.hpp"
#include "gpu/service/hw_detect_exceptions.hpp"
#include "gpu/service/program_package.hpp"
#include "qez_service.h"

namespace gpu = ulmara::qez::gpu;

namespace {

struct byte_span {
  const std::uint8_t* data;
  std::size_t size;
};

// Takes a little-endian u16 length from the front of `in`, then that many
// bytes (fewer when the input ends first).
byte_span take_sized(byte_span& in) {
  if (in.size < 2) return {in.data, 0};
  std::size_t length = in.data[0] | std::size_t{in.data[1]} << 8;
  in = {in.data + 2, in.size - 2};
  if (length > in.size) length = in.size;
  byte_span part{in.data, length};
  in = {in.data + length, in.size - length};
  return part;
}

// Decodes an image as detection does; the refusals it documents are caught,
// anything else escapes and is a finding.
void read_identity(const std::uint8_t* image, std::size_t size, std::uint32_t* generation,
                   std::uint32_t* family) {
  namespace npack = ulmara::qez::zorn::npack;
  std::uint32_t stepping = 0;
  try {
    gpu::parse_compat_note(image, size, generation, family, &stepping);
  } catch (const npack::bad_elf&) {
  } catch (const npack::no_binary_section&) {
  } catch (const npack::bad_binary_section&) {
  }
}

void splice(byte_span image, byte_span binary, byte_span extra) {
  std::uint8_t* spliced = nullptr;
  std::size_t spliced_size = 0;
  const int result = gpu::splice_binary_into_package(image.data, image.size, binary.data, binary.size,
                                                     extra.data, extra.size, &spliced, &spliced_size);
  if ((result == gpu::splice_done) != (spliced != nullptr)) __builtin_trap();
  if (spliced == nullptr) return;
  // The spliced package is read back as a driver would hand it over.
  std::uint32_t generation = 0, family = 0;
  read_identity(spliced, spliced_size, &generation, &family);
  qez_serv_free(spliced);
}

void decode(byte_span image) {
  std::uint32_t generation = 0, family = 0;
  read_identity(image.data, image.size, &generation, &family);
  gpu::architecture_of_generation(generation);
  gpu::device_flags_of(generation, family);
  gpu::contains_generation_split_pattern(image.data, image.size);
  gpu::package_record_checksum(image.data, image.size);
  if (image.size >= 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, image.data, sizeof word);
    gpu::hw_identity id;
    gpu::decode_ip_version(word, &id);
    gpu::generation_of_core_family(word);
    std::uint32_t product_family = 0;
    gpu::family_of_product(word, &product_family);
    gpu::family_of_generation(gpu::generation_of_family(word));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  byte_span in{data, size};
  const byte_span binary = take_sized(in);
  const byte_span extra = take_sized(in);
  splice(in, binary, extra);
  decode(in);
  return 0;
}
