// The words the backend tests use for a record and a run: its precision,
// the container of the caller's data, the direction of a compute call and
// where its result goes.
#pragma once

#include <array>

namespace backend_test {

enum class precision { single_precision, double_precision };
enum class container { usm, buffer };
enum class direction { forward, backward };
enum class placement { out_of_place, in_place };
// Who provides a committed descriptor's workspace.
enum class workspace { internal, external_usm, external_buffer };

inline bool is_double(precision p) { return p == precision::double_precision; }
inline precision precision_from(bool double_precision) {
  return double_precision ? precision::double_precision : precision::single_precision;
}
inline bool is_usm(container c) { return c == container::usm; }
inline bool is_forward(direction d) { return d == direction::forward; }
inline direction opposite(direction d) { return is_forward(d) ? direction::backward : direction::forward; }
inline bool is_in_place(placement p) { return p == placement::in_place; }
inline placement placement_from(bool in_place) { return in_place ? placement::in_place : placement::out_of_place; }

// Every value of a word, for the loops of a test.
inline constexpr std::array<container, 2> both_containers = {container::usm, container::buffer};
inline constexpr std::array<direction, 2> both_directions = {direction::forward, direction::backward};

}  // namespace backend_test
