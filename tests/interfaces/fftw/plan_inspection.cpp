#include "tests/interfaces/fftw/plan_inspection.hpp"

#include <algorithm>

namespace qez_test {

namespace {

std::ostream& print_list(std::ostream& os, const char* name, const std::vector<std::int64_t>& v) {
  os << name << "{";
  for (std::size_t i = 0; i < v.size(); ++i) os << (i ? "," : "") << v[i];
  return os << "} ";
}

// The record keeps strides innermost first after the offset.
std::vector<std::int64_t> slowest_first(std::vector<std::int64_t> strides) {
  std::reverse(strides.begin() + 1, strides.end());
  return strides;
}

}  // namespace

bool operator==(const descriptor_settings& a, const descriptor_settings& b) {
  return a.domain == b.domain && a.precision == b.precision && a.lengths == b.lengths &&
         a.fwd_strides == b.fwd_strides && a.bwd_strides == b.bwd_strides &&
         a.transforms == b.transforms && a.fwd_distance == b.fwd_distance &&
         a.bwd_distance == b.bwd_distance && a.placement == b.placement &&
         a.thread_limit == b.thread_limit && a.workspace == b.workspace &&
         a.conjugate_even_storage == b.conjugate_even_storage;
}

std::ostream& operator<<(std::ostream& os, const descriptor_settings& s) {
  os << "domain " << s.domain << " precision " << s.precision << " ";
  print_list(os, "lengths", s.lengths);
  print_list(os, "fwd_strides", s.fwd_strides);
  print_list(os, "bwd_strides", s.bwd_strides);
  return os << "transforms " << s.transforms << " fwd_distance " << s.fwd_distance
            << " bwd_distance " << s.bwd_distance << " placement " << s.placement
            << " thread_limit " << s.thread_limit << " workspace " << s.workspace
            << " conjugate_even_storage " << s.conjugate_even_storage;
}

descriptor_settings read_settings(const DFTI_DESCRIPTOR* d) {
  const auto& m = *d->methods;
  descriptor_settings s;
  s.domain = d->domain;
  s.precision = d->precision;
  std::int64_t rank = 0;
  m.get_rank(d, &rank);
  std::vector<std::int64_t> lengths(static_cast<std::size_t>(rank));
  m.get_lengths(d, lengths.data());
  s.lengths.assign(lengths.rbegin(), lengths.rend());
  std::vector<std::int64_t> strides(static_cast<std::size_t>(rank + 1));
  m.get_forward_strides(d, strides.data());
  s.fwd_strides = slowest_first(strides);
  m.get_backward_strides(d, strides.data());
  s.bwd_strides = slowest_first(strides);
  m.get_number_of_transforms(d, &s.transforms);
  m.get_forward_distance(d, &s.fwd_distance);
  m.get_backward_distance(d, &s.bwd_distance);
  s.placement = d->placement;
  m.get_thread_limit(d, &s.thread_limit);
  s.workspace = d->workspace_use;
  s.conjugate_even_storage = d->conjugate_even_storage;
  return s;
}

}  // namespace qez_test
