#include "romwright/cart/testing/cart_bench.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace romwright::testing {

CartBench::CartBench(bool hiRom)
    : driver(platform::testing::recordingDriver(fake)),
      clock(platform::testing::manualClock(time)),
      link(cartlink::makeDeviceLink(driver, clock)) {
  fake.clock = &time;
  cartlink::open(link, cartlink::kDeviceDescription);
  session.link = &link;
  session.isHiRom = hiRom ? 1 : 0;
  cart.hiRom = hiRom;
  insertCartridge(cart, fake);
}

std::size_t CartBench::writeCount() const {
  return platform::testing::callsOf(fake, platform::testing::CallKind::Write).size();
}

LimitedRun runWithFileSizeLimit(unsigned long limitBytes, const std::function<bool()>& work) {
  // The child's stdout lives in memory, so nothing is left outside the test's folders.
  int outFd = memfd_create("limited-run-stdout", MFD_CLOEXEC);
  LimitedRun run;
  if (outFd < 0) return run;
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    dup2(outFd, 1);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limitBytes;
    limit.rlim_max = limitBytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    bool ok = work();
    std::fflush(stdout);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    run.exitCode = WEXITSTATUS(status);
  std::string text;
  char buffer[4096];
  lseek(outFd, 0, SEEK_SET);
  for (ssize_t n; (n = read(outFd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(outFd);
  run.out = text;
  return run;
}

}  // namespace romwright::testing
