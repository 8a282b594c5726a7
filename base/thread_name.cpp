#include "base/thread_name.h"

#include <pthread.h>

namespace djkivo {

void NameThisThread(std::string_view name) {
  const std::string kept(name.substr(0, kThreadNameLimit));
  pthread_setname_np(pthread_self(), kept.c_str());
}

std::string ThisThreadName() {
  char name[kThreadNameLimit + 1] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0)
    return {};
  return name;
}

}  // namespace djkivo
