# Device code of the explicit-SIMD engine uses only what SYCL 2020 allows in
# kernels: no long double (type or literal), no non-constant statics, no
# exceptions, RTTI, virtual calls, function pointers, dynamic allocation,
# thread-local storage or host library calls (maths of <cmath>, printf).
#   cmake -DFILES=<file>[;<file>...] -P device_code_check.cmake
# Recursion is not a token: the kernel bodies are read for it by eye.
set(rules
  "long double|long double"
  "[0-9.]L[^A-Za-z0-9_]|long double literal"
  "(^|[^A-Za-z0-9_])(throw|try|catch)([^A-Za-z0-9_]|$)|exception"
  "(^|[^A-Za-z0-9_])(typeid|dynamic_cast)([^A-Za-z0-9_]|$)|RTTI"
  "(^|[^A-Za-z0-9_])virtual([^A-Za-z0-9_]|$)|virtual call"
  "\\(\\s*\\*\\s*[A-Za-z_][A-Za-z0-9_]*\\s*\\)\\s*\\(|function pointer"
  "std::function|function pointer"
  "(^|[^A-Za-z0-9_])(new|delete|malloc|free)([^A-Za-z0-9_]|$)|dynamic allocation"
  "(^|[^A-Za-z0-9_])thread_local([^A-Za-z0-9_]|$)|thread-local storage"
  "std::(cos|sin|tan|exp|log|pow|sqrt|fmod|sincos)[^A-Za-z0-9_]|host maths call"
  "(^|[^A-Za-z0-9_])(printf|fprintf|puts|abort|exit)[ ]*\\(|host library call"
  "(^|[^A-Za-z0-9_])static[ ]+[^=;(){}]*[A-Za-z_][A-Za-z0-9_]*[ ]*(=|\\[|{|;)|non-constant static variable")
set(found "")
foreach(file ${FILES})
  file(STRINGS "${file}" lines)
  set(number 0)
  set(in_comment FALSE)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    # Comments say what the code does; only code is checked.
    if(in_comment)
      if(line MATCHES "\\*/")
        string(REGEX REPLACE "^.*\\*/" "" line "${line}")
        set(in_comment FALSE)
      else()
        continue()
      endif()
    endif()
    string(REGEX REPLACE "/\\*.*\\*/" "" line "${line}")
    if(line MATCHES "/\\*")
      string(REGEX REPLACE "/\\*.*$" "" line "${line}")
      set(in_comment TRUE)
    endif()
    string(REGEX REPLACE "//.*$" "" line "${line}")
    string(REGEX REPLACE "\"[^\"]*\"" "\"\"" line "${line}")
    # Constant-initialised statics (constexpr) and the static keyword of
    # casts and assertions are allowed.
    string(REGEX REPLACE "static[ ]+(inline[ ]+)?constexpr" "constexpr" checked "${line}")
    foreach(rule IN LISTS rules)
      string(REGEX MATCH "^(.*)\\|([^|]*)$" parts "${rule}")
      set(pattern "${CMAKE_MATCH_1}")
      set(what "${CMAKE_MATCH_2}")
      if(checked MATCHES "${pattern}")
        string(APPEND found "${file}:${number}: ${what}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "device code uses what SYCL 2020 kernels may not:\n${found}")
endif()
list(LENGTH FILES count)
message(STATUS "device code of ${count} file(s) checked")
