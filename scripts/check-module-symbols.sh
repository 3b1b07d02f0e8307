#!/usr/bin/env bash
# The module archive may leave unresolved only the platform's calls (namespace vestra) and what the C++
# standard library, its runtime and the compiler's support library provide: anything else means the module
# reaches past the platform (an OS call, the simulator, a third-party library).
# It also keeps every writable global in app/module_state.cpp, where one list defines and resets them all, so
# that no value can survive from one start of the module into the next.
# Usage: scripts/check-module-symbols.sh NM OBJDUMP ARCHIVE
set -euo pipefail
nm_tool=$1 objdump_tool=$2 archive=$3
[ -f "$archive" ] || { echo "check-module-symbols: no archive at $archive" >&2; exit 2; }

defined=$("$nm_tool" -g --defined-only "$archive" | awk 'NF >= 3 {print $3}' | sort -u)
undefined=$("$nm_tool" -g --undefined-only "$archive" | awk 'NF >= 2 {print $2}' | sort -u)
unresolved=$(comm -23 <(echo "$undefined") <(echo "$defined"))

# C library functions the standard library exposes through <cstring>, <cstdio>'s buffer formatting,
# <cstdlib> and <cmath>; file and process calls are not among them: the module reaches those through vestra.
allowed_c='^(mem(cpy|move|set|cmp|chr)|str(len|nlen|cmp|ncmp|cpy|ncpy|chr|rchr|str|cat|ncat|tol|toul)|(v)?s(n)?printf|__(v)?s(n)?printf_chk|__mem(cpy|move|set)_chk|__str(n)?(cpy|cat)_chk|abs|labs|div|lround|llround|round|floor|ceil|sqrt|__assert_fail|__stack_chk_fail|__stack_chk_guard|abort)$'
# The C++ runtime and the compiler's support library (MIPS software division and the like).
allowed_rt='^(_ZNS|_ZNK?St|_ZSt|_Znw|_Zna|_Zdl|_Zda|_ZTV(N10__cxxabiv|St)|_ZTI|_ZTS|__cxa_|__gxx_personality|_Unwind_|__dso_handle|__[a-z]+[dst]i[23]|__gnu_|_gp_disp|__gnu_local_gp|_GLOBAL_OFFSET_TABLE_|__(u)?(div|mod|mul)[dst]i3)'
# What a sanitizer or coverage build instruments the code with.
allowed_instrumentation='^__(asan|ubsan|sanitizer|sancov|lsan|msan|tsan)_'
# The platform: everything in namespace vestra (its mangled names start with _ZN6vestra or _ZNK6vestra).
allowed_platform='^_ZN(K)?6vestra'

bad=$(echo "$unresolved" | grep -Ev "$allowed_platform" | grep -Ev "$allowed_instrumentation" | grep -Ev "$allowed_rt" | grep -Ev "$allowed_c" | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "check-module-symbols: $archive needs symbols that are neither the platform's nor the C++ library's:" >&2
  echo "$bad" | c++filt | sed 's/^/  /' >&2
  exit 1
fi
# Writable data objects (not the relocated read-only tables), by the member that defines them.
# Data the compiler makes (a sanitizer's ODR markers, the pointer to the exception personality) is no global of ours.
stray=$("$objdump_tool" -t "$archive" | awk '
  /^In archive/ { next }
  /:[[:space:]]+file format/ { member = $1; sub(/:$/, "", member); next }
  $0 ~ /[[:space:]]O[[:space:]]+\.(data|bss|sdata|sbss)([[:space:]]|\.)/ && $0 !~ /\.data\.rel\.ro/ {
    if (member != "module_state.cpp.o" && $NF !~ /^(__odr_asan|DW\.ref\.)/) print member ": " $NF
  }')
if [ -n "$stray" ]; then
  echo "check-module-symbols: writable globals outside app/module_state.cpp (add them to its list):" >&2
  echo "$stray" | c++filt | sed 's/^/  /' >&2
  exit 1
fi

count=$(echo "$unresolved" | grep -cE "$allowed_platform" || true)
echo "check-module-symbols: $archive reaches the camera through $count platform symbols and nothing else"
