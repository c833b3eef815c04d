#pragma once
// The machine an erasure happened on, as a report names it.
#include <string>

namespace fw {

struct HostFacts {
  std::string hostName;  // gethostname
  std::string kernel;    // uname: "Linux 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC ... x86_64"
};

HostFacts CurrentHostFacts();

}  // namespace fw
