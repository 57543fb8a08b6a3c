// Places of the real and small multi-dimensional backends in the lists, with
// their first tests; each declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
