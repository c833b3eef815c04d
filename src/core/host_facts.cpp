#include "core/host_facts.hpp"

#include <sys/utsname.h>
#include <unistd.h>

#include <array>

namespace fw {

HostFacts CurrentHostFacts() {
  HostFacts facts;
  std::array<char, 256> host{};
  if (gethostname(host.data(), host.size() - 1) == 0) facts.hostName = host.data();
  utsname name{};
  if (uname(&name) == 0) {
    facts.kernel = std::string(name.sysname) + ' ' + name.release + ' ' + name.version + ' ' +
                   name.machine;
  }
  return facts;
}

}  // namespace fw
