#include "Platform/Sockets/KernelIo.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace plat::kio {

int InQueue(int fd) {
  int n = 0;
  if (::ioctl(fd, SIOCINQ, &n) < 0) return -1;
  return n;
}

int OutQueue(int fd) {
  int n = 0;
  if (::ioctl(fd, SIOCOUTQ, &n) < 0) return -1;
  return n;
}

}  // namespace plat::kio
