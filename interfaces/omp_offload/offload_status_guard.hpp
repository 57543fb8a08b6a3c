// The scheme by which the OpenMP-offload entry points let no exception
// escape: their work runs inside run_offload_guarded, whose handlers turn
// the library's exception classes into statuses silently and print one line
// on standard error, led by the entry point's name, for the others.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>

#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"
#include "interfaces/omp_offload/interop_queue_resolution.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::omp {

// Failure of the OpenMP side or of the SYCL runtime.
constexpr std::int64_t status_offload_error = 83;

template <class Work>
std::int64_t run_offload_guarded(const char* entry_name, Work&& work) noexcept {
  try {
    return work();
  } catch (const ulmara::qez::unsupported_device&) {
    return dft::status_bad_descriptor;
  } catch (const ulmara::qez::host_bad_alloc&) {
    return dft::status_allocation_failed;
  } catch (const ulmara::qez::device_bad_alloc&) {
    return dft::status_allocation_failed;
  } catch (const ulmara::qez::unimplemented&) {
    return dft::status_unimplemented;
  } catch (const ulmara::qez::invalid_argument&) {
    return dft::status_invalid_descriptor;
  } catch (const ulmara::qez::uninitialized&) {
    return dft::status_bad_descriptor;
  } catch (const ulmara::qez::computation_error&) {
    return dft::status_bad_descriptor;
  } catch (const ulmara::qez::batch_error&) {
    return dft::status_bad_descriptor;
  } catch (const ulmara::qez::exception&) {
    return dft::status_bad_descriptor;
  } catch (const dft_omp_offload_exception& e) {
    std::fprintf(stderr, "%s: An error specific to OpenMP offload was detected. Message: %s\n",
                 entry_name, e.what());
    return status_offload_error;
  } catch (const sycl::exception& e) {
    std::fprintf(stderr, "%s: A sycl::exception was caught internally (code %d). Message: %s\n",
                 entry_name, e.code().value(), e.what());
    return status_offload_error;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: An std::exception was caught: %s\n", entry_name, e.what());
    return dft::status_internal_error;
  } catch (...) {
    std::fprintf(stderr, "%s: An unknown and unexpected error occurred\n", entry_name);
    return dft::status_internal_error;
  }
}

}  // namespace ulmara::qez::omp
