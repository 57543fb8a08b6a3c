// Delayed binding of the threading-layer library: its functions are reached
// through stubs that open the library on the first call of any of them, and
// a notification hook decides where it is opened from.
#pragma once

#include <cstdint>

#include "platform/win/win_shim.hpp"

namespace ulmara::qez::gpu {

// What the delay-load routine tells its hook; only the name is read.
struct delay_load_info {
  const char* library_name;
};

enum delay_load_notification : unsigned {
  delay_load_before_library_load = 1,
};

// Exception code of a library that could not be found; the process ends with
// it when neither the hook nor the default search finds the library.
constexpr std::uint32_t delay_load_module_not_found = 0xC06D007E;

// Prefers this library's own directory for libraries of the product family,
// and an already loaded alternative threading layer over the default one.
win::HMODULE threading_layer_preload_hook(unsigned notification, const delay_load_info* info);

using delay_load_hook = win::HMODULE (*)(unsigned, const delay_load_info*);

// The delay-load routine: asks the hook, then the default search. Null when
// both fail.
win::HMODULE delay_load_library(const char* name, delay_load_hook hook);

// Module behind the stubs (opened on first use; the process ends when it
// cannot be opened).
win::HMODULE threading_layer_module();

}  // namespace ulmara::qez::gpu
