#include "platform/win/win_shim.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(WinShimNames, DriverAndProductLibrariesMapToTheirStandIns) {
  EXPECT_EQ(win::mapped_library_name("OpenCL.dll"), "libqez_gpu_profile.so");
  EXPECT_EQ(win::mapped_library_name("opencl.DLL"), "libqez_gpu_profile.so");
  EXPECT_EQ(win::mapped_library_name("qx_loader.dll"), "libqez_qx_loader.so");
  EXPECT_EQ(win::mapped_library_name("omptarget.dll"), "libqez_omptarget.so");
  EXPECT_EQ(win::mapped_library_name("qez_vorp_thread.3.dll"), "libqez_vorp_thread.so.3");
  EXPECT_EQ(win::mapped_library_name("qez_core.3.dll"), "libqez_core.so.3");
  EXPECT_EQ(win::mapped_library_name("plain.dll"), "libplain.so");
  EXPECT_EQ(win::mapped_library_name("libm.so.6"), "libm.so.6");
}

TEST(WinShimLoader, LoadsAProductLibraryAndResolvesItsEntryPoints) {
  win::HMODULE core = win::LoadLibraryExA("qez_core.3.dll", nullptr, 0);
  ASSERT_NE(core, nullptr);
  auto exit_fn = win::GetProcAddress(core, "qez_serv_exit");
  EXPECT_NE(exit_fn, nullptr);
  EXPECT_EQ(win::GetProcAddress(core, "no_such_entry_point"), nullptr);
  EXPECT_EQ(win::GetModuleHandleA("qez_core.3.dll"), core);

  wchar_t path[512];
  const win::DWORD n = win::GetModuleFileNameW(core, path, 512);
  ASSERT_GT(n, 0u);
  const std::wstring name(path, n);
  EXPECT_NE(name.find(L"libqez_core.so.3"), std::wstring::npos);
  EXPECT_TRUE(win::FreeLibrary(core));
}

TEST(WinShimLoader, WideNamesWork) {
  win::HMODULE core = win::LoadLibraryExW(L"qez_core.3.dll", nullptr, 0);
  ASSERT_NE(core, nullptr);
  EXPECT_EQ(win::GetModuleHandleW(L"qez_core.3.dll"), core);
  win::FreeLibrary(core);
}

TEST(WinShimLoader, DriversWithoutAStandInFailCleanly) {
  unsetenv("STANDIN_SYSTEM_DIR");
  EXPECT_EQ(win::LoadLibraryExA("qx_loader.dll", nullptr, win::LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);
  EXPECT_EQ(win::LoadLibraryExA("omptarget.dll", nullptr, 0), nullptr);
  EXPECT_EQ(win::LoadLibraryExA("", nullptr, 0), nullptr);
  EXPECT_EQ(win::LoadLibraryExA(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(win::GetProcAddress(nullptr, "x"), nullptr);
  EXPECT_EQ(win::GetModuleHandleA("never_loaded.dll"), nullptr);
}

TEST(WinShimLoader, ModuleFromAnAddress) {
  win::HMODULE module = nullptr;
  ASSERT_TRUE(win::GetModuleHandleExW(
      win::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | win::GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<const wchar_t*>(&win::LoadLibraryExA), &module));
  EXPECT_NE(module, nullptr);
  wchar_t path[8];
  // A name that does not fit is cut and terminated; the result is the size.
  EXPECT_EQ(win::GetModuleFileNameW(module, path, 8), 8u);
  EXPECT_EQ(path[7], L'\0');
}

TEST(WinShimText, MultiByteToWideChar) {
  wchar_t wide[16];
  EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "abc", -1, wide, 16), 4);
  EXPECT_EQ(std::wstring(wide), L"abc");
  EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "\xc3\xa9t\xc3\xa9", 5, wide, 16), 3);
  EXPECT_EQ(wide[0], static_cast<wchar_t>(0xE9));
  EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "abcdef", -1, wide, 3), 0);  // too small
}

TEST(WinShimProcess, TerminateProcessEndsWithTheCode) {
  EXPECT_EXIT(win::TerminateProcess(win::GetCurrentProcess(), 2), ::testing::ExitedWithCode(2), "");
}

}  // namespace
