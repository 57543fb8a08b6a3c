// Each case runs in a process of its own, so libraries one case loads do not
// leak into the next.
#include "gpu/service/delay_load.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "qez_service.h"

namespace {

using namespace ulmara::qez::gpu;

std::string directory_of_test() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&directory_of_test), &info);
  std::string path = info.dli_fname;
  return path.substr(0, path.find_last_of('/') + 1);
}

std::string layer_name(win::HMODULE module) {
  if (module == nullptr) return "<none>";
  auto name = reinterpret_cast<const char* (*)()>(dlsym(module, "qez_test_layer_name"));
  return name ? name() : "<not a layer>";
}

void preload(const char* file) {
  ASSERT_NE(dlopen((directory_of_test() + file).c_str(), RTLD_NOW), nullptr) << dlerror();
}

win::HMODULE hook_for(const char* name) {
  const delay_load_info info{name};
  return threading_layer_preload_hook(delay_load_before_library_load, &info);
}

TEST(DelayLoadHook, LoadsTheLayerFromTheLibrarysOwnDirectory) {
  EXPECT_EQ(layer_name(hook_for("qez_vorp_thread.3.dll")), "vorp_thread");
}

TEST(DelayLoadHook, AnAlreadyLoadedAlternativeLayerTakesItsPlace) {
  preload("libqez_sequential.so.3");
  EXPECT_EQ(layer_name(hook_for("qez_vorp_thread.3.dll")), "sequential");
}

TEST(DelayLoadHook, TheTavirLayerWinsOverTheSequentialOne) {
  preload("libqez_sequential.so.3");
  preload("libqez_tavir_thread.so.3");
  EXPECT_EQ(layer_name(hook_for("qez_vorp_thread.3.dll")), "tavir_thread");
}

TEST(DelayLoadHook, OtherProductLibrariesComeFromTheSameDirectory) {
  EXPECT_EQ(layer_name(hook_for("qez_sequential.3.dll")), "sequential");
  EXPECT_EQ(hook_for("qez_no_such_library.3.dll"), nullptr);
}

TEST(DelayLoadHook, LeavesForeignNamesAndOtherNotificationsToTheDefault) {
  EXPECT_EQ(hook_for("OpenCL.dll"), nullptr);
  EXPECT_EQ(hook_for(nullptr), nullptr);
  const delay_load_info info{"qez_vorp_thread.3.dll"};
  EXPECT_EQ(threading_layer_preload_hook(0, &info), nullptr);
  EXPECT_EQ(threading_layer_preload_hook(2, &info), nullptr);
  EXPECT_EQ(threading_layer_preload_hook(delay_load_before_library_load, nullptr), nullptr);
}

win::HMODULE declining_hook(unsigned, const delay_load_info*) { return nullptr; }

TEST(DelayLoadRoutine, FallsBackToTheDefaultSearchWhenTheHookDeclines) {
  // The default search finds the layer beside the caller, as the loader does.
  EXPECT_EQ(layer_name(delay_load_library("qez_vorp_thread.3.dll", declining_hook)), "vorp_thread");
  EXPECT_EQ(delay_load_library("qez_missing_layer.3.dll", declining_hook), nullptr);
}

TEST(DelayLoadStubs, AnEntryPointTheLayerLacksEndsTheProcess) {
  // The stand-in layer here exports no service functions.
  EXPECT_EXIT(qez_serv_dsecnd(), ::testing::ExitedWithCode((delay_load_module_not_found + 1) & 0xff),
              "cannot find qez_serv_dsecnd");
}

}  // namespace
