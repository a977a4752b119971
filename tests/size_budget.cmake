# The shipped 32-bit programs' size budgets: they go into every product
# download. Prints both sizes, then fails if either is over its budget.
# Usage: cmake -DWIN32_BUILD_DIR=<win32 build folder> -P size_budget.cmake
set(budgets
  "updater/update_client.exe=262144"
  "chooser/language_chooser.exe=163840")
set(over "")
foreach(entry ${budgets})
  string(REGEX MATCH "^[^=]+" program "${entry}")
  string(REGEX REPLACE "^[^=]+=" "" budget "${entry}")
  set(path "${WIN32_BUILD_DIR}/${program}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${path} is not built")
  endif()
  file(SIZE "${path}" size)
  math(EXPR kib "${size} / 1024")
  math(EXPR budget_kib "${budget} / 1024")
  message("${program}: ${size} bytes (${kib} KiB), budget ${budget} bytes (${budget_kib} KiB)")
  if(size GREATER budget)
    math(EXPR excess "${size} - ${budget}")
    list(APPEND over "${program} is ${excess} bytes over its budget")
  endif()
endforeach()
if(over)
  string(REPLACE ";" "; " over "${over}")
  message(FATAL_ERROR "${over}")
endif()
