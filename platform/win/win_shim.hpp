// Loader and process calls of the target platform, mapped onto the dynamic
// loader of this system. Driver and library names of the target are mapped
// to the files that stand in for them here.
#pragma once

#include <cstdint>
#include <string>

namespace win {

using HMODULE = void*;
using HANDLE = void*;
using DWORD = std::uint32_t;
using BOOL = int;
using UINT = unsigned int;
using FARPROC = void (*)();

// LoadLibraryEx flags the library passes.
constexpr DWORD LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x00000100;
constexpr DWORD LOAD_LIBRARY_SEARCH_APPLICATION_DIR = 0x00000200;
constexpr DWORD LOAD_LIBRARY_SEARCH_DEFAULT_DIRS = 0x00001000;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;

// GetModuleHandleEx flags.
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

constexpr UINT CP_UTF8 = 65001;

HMODULE LoadLibraryExA(const char* name, HANDLE reserved, DWORD flags);
HMODULE LoadLibraryExW(const wchar_t* name, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, const char* name);
HMODULE GetModuleHandleA(const char* name);
HMODULE GetModuleHandleW(const wchar_t* name);
BOOL GetModuleHandleExW(DWORD flags, const wchar_t* name_or_address, HMODULE* module);
DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size);
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* text, int length,
                        wchar_t* wide, int wide_length);
HANDLE GetCurrentProcess();
[[noreturn]] BOOL TerminateProcess(HANDLE process, UINT exit_code);

// The file that stands in for a library name of the target ("OpenCL.dll",
// "qez_core.3.dll", ...). Names without a ".dll" suffix pass unchanged.
std::string mapped_library_name(const std::string& name);

// Directory searched for LOAD_LIBRARY_SEARCH_SYSTEM32: $STANDIN_SYSTEM_DIR
// when set, else a directory that holds no driver.
std::string system_directory();

}  // namespace win
