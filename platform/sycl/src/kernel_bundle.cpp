// SYCL stand-in: kernel identifiers, kernel bundles and specialization
// constants (detail/kernel_bundle.hpp).
#include <algorithm>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

namespace {
std::mutex& id_mutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::shared_ptr<kernel_id_impl>>& id_registry() {
  static auto* r = new std::map<std::string, std::shared_ptr<kernel_id_impl>>();
  return *r;
}
thread_local const spec_constant_values* t_current_values = nullptr;
}  // namespace

bool holds_device(const std::vector<std::shared_ptr<device_impl>>& devs, const device_impl* d) {
  return std::any_of(devs.begin(), devs.end(), [d](const std::shared_ptr<device_impl>& x) { return x.get() == d; });
}

std::shared_ptr<kernel_id_impl> kernel_id_for(const std::string& name) {
  std::lock_guard<std::mutex> lk(id_mutex());
  auto& slot = id_registry()[name];
  if (!slot) slot = std::make_shared<kernel_id_impl>(name);
  return slot;
}
const char* kernel_id_name(const kernel_id_impl& id) { return id.name.c_str(); }

const spec_constant_values* current_specialization_constants() { return t_current_values; }
specialization_scope::specialization_scope(const spec_constant_values* values) : outer_(t_current_values) {
  t_current_values = values;
}
specialization_scope::~specialization_scope() { t_current_values = outer_; }

std::shared_ptr<kernel_bundle_impl> bundle_create(const context& ctx, const std::vector<device>& devs,
                                                  const std::vector<kernel_id>& ids, bundle_state state) {
  if (devs.empty()) throw_error(errc::invalid, "get_kernel_bundle: the device list is empty");
  auto b = std::make_shared<kernel_bundle_impl>();
  b->ctx = get_impl(ctx);
  for (const device& d : devs) {
    const auto& di = get_impl(d);
    if (!b->ctx->has_device(di.get()))
      throw_error(errc::invalid, "get_kernel_bundle: a device is not in the bundle's context");
    if (!holds_device(b->devices, di.get())) b->devices.push_back(di);
  }
  for (const kernel_id& id : ids)
    if (std::find(b->ids.begin(), b->ids.end(), get_impl(id)) == b->ids.end()) b->ids.push_back(get_impl(id));
  b->state = state;
  return b;
}

std::shared_ptr<kernel_bundle_impl> bundle_build(const kernel_bundle_impl& input, const std::vector<device>& devs) {
  auto b = std::make_shared<kernel_bundle_impl>();
  b->ctx = input.ctx;
  for (const device& d : devs) {
    if (!holds_device(input.devices, get_impl(d).get()))
      throw_error(errc::invalid, "build: a device is not one of the bundle's devices");
    b->devices.push_back(get_impl(d));
  }
  b->ids = input.ids;
  b->state = bundle_state::executable;
  b->values = std::make_shared<spec_constant_values>(*input.values);
  return b;
}

bundle_state bundle_get_state(const kernel_bundle_impl& b) { return b.state; }
context bundle_context(const kernel_bundle_impl& b) { return context(b.ctx); }
std::vector<device> bundle_devices(const kernel_bundle_impl& b) {
  std::vector<device> r;
  for (const auto& d : b.devices) r.push_back(device(d));
  return r;
}
std::vector<kernel_id> bundle_kernel_ids(const kernel_bundle_impl& b) {
  std::vector<kernel_id> r;
  for (const auto& id : b.ids) r.push_back(kernel_id(id));
  return r;
}
bool bundle_has_kernel(const kernel_bundle_impl& b, const kernel_id& id) {
  return std::find(b.ids.begin(), b.ids.end(), get_impl(id)) != b.ids.end();
}

void bundle_set_value(kernel_bundle_impl& b, const void* key, const void* bytes, size_t size) {
  if (b.state != bundle_state::input)
    throw_error(errc::invalid, "set_specialization_constant: the bundle is not in input state");
  auto next = std::make_shared<spec_constant_values>(*b.values);
  std::vector<char> value(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
  auto it = std::find_if(next->entries.begin(), next->entries.end(),
                         [key](const std::pair<const void*, std::vector<char>>& e) { return e.first == key; });
  if (it != next->entries.end()) it->second = std::move(value);
  else next->entries.emplace_back(key, std::move(value));
  b.values = std::move(next);
}
const spec_constant_values& bundle_values(const kernel_bundle_impl& b) { return *b.values; }
std::shared_ptr<const spec_constant_values> bundle_values_snapshot(const kernel_bundle_impl& b) { return b.values; }

void handler_check_bundle(handler_impl& cgh, const kernel_bundle_impl& b) {
  if (cgh.kind != handler_impl::kind_t::none)
    throw_error(errc::invalid, "use_kernel_bundle: the command group already holds a command");
  if (b.ctx != cgh.queue->ctx) throw_error(errc::invalid, "use_kernel_bundle: the bundle belongs to another context");
  if (!holds_device(b.devices, cgh.queue->dev.get()))
    throw_error(errc::invalid, "use_kernel_bundle: the bundle is not built for the queue's device");
}

void bundle_require_kernel(const kernel_bundle_impl& b, const std::string& name) {
  for (const auto& id : b.ids)
    if (id->name == name) return;
  throw_error(errc::kernel_not_supported, "the kernel bundle used by the command group does not hold kernel " + name);
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
