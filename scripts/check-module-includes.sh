#!/usr/bin/env bash
# The module includes only its own headers, the platform's and the C++ standard library's. The include
# roots already make a sim/, cli/ or harness/ include fail to compile; this catches what they cannot: an OS
# or C header, a third-party header from the system's include path, or a path that climbs out with "..".
# Within the module the folders are layers: a file includes its own layer and those below it, and reaches up
# only where the updater's design does (the list below).
# Usage: scripts/check-module-includes.sh SOURCE_DIR [STAMP]
set -euo pipefail
src=$1 stamp=${2:-}
module_dirs=(app panels package install gx services platform)

# Bottom to top; the platform is below them all.
layers=(platform gx services package install panels app)
# A file or a whole layer, then a header of a higher layer that it may include.
reach_up=(
  # A failed check or installation puts up its panel itself: the battery, file and verification checks,
  # and the installation.
  "services/power.cpp app/panel.h"
  "package/file_set.cpp app/panel.h"
  "package/verify.cpp app/panel.h"
  "install/install.cpp app/panel.h"
  # Each installation step draws the progress panel's bar.
  "install/install.cpp panels/panels.h"
  # The erase takes the logo with it when the resource block could not be copied out of the flash.
  "install/install.cpp app/entry.h"
  # The screens are the shell's panel records, drawn with its strings, screen layout, font and logo.
  "panels app/panel.h"
  "panels app/strings.h"
  "panels app/screen.h"
  "panels app/entry.h"
)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

# Whether file may include header h: the same layer or one below, or an allowed reach up.
may_include() {
  local file=$1 h=$2 rule
  ((rank[${h%%/*}] <= rank[${file%%/*}])) && return 0
  for rule in "${reach_up[@]}"; do
    [[ $rule == "$file $h" || $rule == "${file%%/*} $h" ]] && return 0
  done
  return 1
}

std_headers=" algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp csignal
cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution expected
filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
iterator latch limits list locale map memory memory_resource mutex new numbers numeric optional ostream queue
random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
stdexcept stop_token streambuf string string_view syncstream system_error thread tuple type_traits typeindex
typeinfo unordered_map unordered_set utility valarray variant vector version "
# Standard, but they reach the host's files, threads or streams: the camera's come through the platform.
host_only=" filesystem fstream iostream istream ostream sstream syncstream thread mutex shared_mutex future
condition_variable stop_token semaphore latch barrier csignal clocale locale codecvt regex execution "

# Spaces for the line breaks, so that every name stands between two spaces and is matched whole.
std_headers=" ${std_headers//$'\n'/ } " host_only=" ${host_only//$'\n'/ } "

status=0
while IFS= read -r file; do
  while IFS= read -r line; do
    num=${line%%:*} text=${line#*:}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\<([^>]+)\> ]]; then
      h=${BASH_REMATCH[1]}
      if [[ $std_headers != *" $h "* || $host_only == *" $h "* ]]; then
        echo "$file:$num: <$h> is not a header the camera build has; reach the camera through platform/" >&2
        status=1
      fi
    elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      h=${BASH_REMATCH[1]} top=${BASH_REMATCH[1]%%/*}
      if [[ $h == *..* || " ${module_dirs[*]} " != *" $top "* || ! -f $src/$h ]]; then
        echo "$file:$num: \"$h\" is outside the module and the platform" >&2
        status=1
      elif ! may_include "$file" "$h"; then
        echo "$file:$num: \"$h\" is a layer above ${file%%/*}/ (layers from the bottom: ${layers[*]})" >&2
        status=1
      fi
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$src/$file" || true)
done < <(cd "$src" && find "${module_dirs[@]}" -name '*.h' -o -name '*.cpp' | sort)

[ $status -eq 0 ] && [ -n "$stamp" ] && touch "$stamp"
exit $status
