// Exact system-call counts for the benchmarks, beside their peers in the same run.
#pragma once

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

// Counts the system calls the calling thread makes, through the kernel's tracepoint on
// every system-call entry (exact, and without a tracer's slowdown). Where the kernel does
// not let this process count, Calls() is -1.
class SyscallCounter {
 public:
  SyscallCounter() {
    long id = -1;
    for (const char* path : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                             "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"}) {
      if (FILE* f = std::fopen(path, "r")) {
        if (std::fscanf(f, "%ld", &id) != 1) id = -1;
        std::fclose(f);
        if (id >= 0) break;
      }
    }
    if (id < 0) return;
    perf_event_attr attr{};
    attr.type = PERF_TYPE_TRACEPOINT;
    attr.size = sizeof attr;
    attr.config = static_cast<std::uint64_t>(id);
    FFd = static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
  }
  ~SyscallCounter() {
    if (FFd >= 0) ::close(FFd);
  }
  SyscallCounter(const SyscallCounter&) = delete;
  SyscallCounter& operator=(const SyscallCounter&) = delete;
  long long Calls() const {
    std::uint64_t v = 0;
    if (FFd < 0 || ::read(FFd, &v, sizeof v) != static_cast<ssize_t>(sizeof v)) return -1;
    return static_cast<long long>(v);
  }

 private:
  int FFd = -1;
};
