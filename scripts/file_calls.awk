# Counts the file system calls that one Windows program makes, from a Wine
# trace taken with WINEDEBUG=+relay and RelayInclude set to KERNEL32 and the
# ntdll file calls (scripts/install_bench.sh sets both). A call of ntdll's is
# counted when it runs inside a KERNEL32 call that the program's own code made:
# one whose return address lies in the program's image [lo, hi) (hexadecimal,
# without 0x), on the program's main thread: the thread of the trace's first
# line, as the program is started by `wine` directly. So the calls of Wine's
# start-up, of its loader, of its other threads and of the processes that it
# starts on the way (the desktop's explorer.exe, whose image lies at the same
# address) are left out, and each program is measured at the same layer,
# below the Win32 calls it makes.
#
#   awk -v lo=00400000 -v hi=0040f000 -f scripts/file_calls.awk TRACE
#
# Prints one line: reads writes directories opens other all process, where
# directories are the creations of a directory (NtCreateFile with
# FILE_DIRECTORY_FILE and a disposition other than FILE_OPEN), opens the other
# NtCreateFile and NtOpenFile calls, other everything else (closing, file
# times and positions, queries), all their sum, and process every ntdll file
# call of the trace, Wine's start-up included.

function hex(text,    i, c, value) {
  value = 0
  text = tolower(text)
  for (i = 1; i <= length(text); ++i) {
    c = index("0123456789abcdef", substr(text, i, 1))
    if (c == 0) break
    value = value * 16 + c - 1
  }
  return value
}

BEGIN {
  low = hex(lo)
  high = hex(hi)
  main = ""
  split("", depth)
  split("", ownFrom)
}

main == "" && match($0, /^[0-9a-f]+:/) { main = substr($0, 1, RLENGTH - 1) }

# "0124:Call KERNEL32.ReadFile(...) ret=00402aad"
# "0124:Ret  KERNEL32.ReadFile() retval=00000001 ret=00402aad"
match($0, /^[0-9a-f]+:(Call|Ret ) [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(/) {
  thread = substr($0, 1, index($0, ":") - 1)
  call = substr($0, RSTART, RLENGTH)
  sub(/^[0-9a-f]+:/, "", call)
  returning = substr(call, 1, 3) == "Ret"
  name = call
  sub(/^(Call|Ret ) /, "", name)
  sub(/\($/, "", name)
  module = tolower(substr(name, 1, index(name, ".") - 1))

  if (returning) {
    if (depth[thread] > 0) {
      if (ownFrom[thread] == depth[thread]) ownFrom[thread] = 0
      --depth[thread]
    }
    next
  }

  ++depth[thread]
  if (module == "kernel32" && ownFrom[thread] == 0) {
    address = $0
    sub(/.* ret=/, "", address)
    address = hex(address)
    if (address >= low && address < high && thread == main) {
      ownFrom[thread] = depth[thread]
    }
  }
  if (module != "ntdll") next

  ++process
  if (ownFrom[thread] == 0) next
  function_name = substr(name, index(name, ".") + 1)
  if (function_name == "NtReadFile") {
    ++reads
  } else if (function_name == "NtWriteFile") {
    ++writes
  } else if (function_name == "NtCreateFile") {
    # NtCreateFile(handle, access, attributes, io, size, fileAttributes,
    #              sharing, disposition, options, ea, eaLength)
    arguments = $0
    sub(/^[^(]*\(/, "", arguments)
    sub(/\).*$/, "", arguments)
    split(arguments, argument, ",")
    if (hex(argument[9]) % 2 == 1 && hex(argument[8]) != 1) {
      ++directories
    } else {
      ++opens
    }
  } else if (function_name == "NtOpenFile") {
    ++opens
  } else {
    ++other
  }
}

END {
  all = reads + writes + directories + opens + other
  printf "%d %d %d %d %d %d %d\n", reads, writes, directories, opens, other, all, process
}
