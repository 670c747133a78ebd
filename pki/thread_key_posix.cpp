#include <pthread.h>

#include <type_traits>

#include "pki/thread_key.h"

namespace veskar::pki {

static_assert(std::is_integral<pthread_key_t>::value &&
                  sizeof(pthread_key_t) <= sizeof(unsigned long),
              "a thread key is kept as an unsigned long");

ThreadKey::ThreadKey(AtThreadExit at_thread_exit) : at_thread_exit_(at_thread_exit) {
  pthread_key_t key{};
  made_ = pthread_key_create(&key, at_thread_exit) == 0;
  key_ = static_cast<unsigned long>(key);
}

ThreadKey::~ThreadKey() {
  if (made_) pthread_key_delete(static_cast<pthread_key_t>(key_));
}

void* ThreadKey::Get() const {
  return made_ ? pthread_getspecific(static_cast<pthread_key_t>(key_)) : nullptr;
}

bool ThreadKey::Set(void* value) {
  return made_ && pthread_setspecific(static_cast<pthread_key_t>(key_), value) == 0;
}

}  // namespace veskar::pki
