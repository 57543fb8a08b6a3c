// Kernel names of the SYCL runtime are classes declared at global scope; a
// backend picks the one of a kernel variant through a trait template of its
// own (`trait<arguments...>::type`).
#pragma once

// Specialises `trait` for `arguments...` to name the global class `name`.
#define QEZ_KERNEL_NAME_OF(trait, name, ...) \
  template <>                                \
  struct trait<__VA_ARGS__> {                \
    using type = ::name;                     \
  };
