#include "platform/env.h"

#include <atomic>

namespace veskar {
namespace {
std::atomic<Env*> g_env_override{nullptr};
}  // namespace

Env::~Env() = default;

Env* CurrentEnv() {
  Env* env = g_env_override.load(std::memory_order_acquire);
  return env != nullptr ? env : Env::Default();
}

Env* SetEnvForTesting(Env* env) {
  Env* previous = g_env_override.exchange(env, std::memory_order_acq_rel);
  return previous != nullptr ? previous : Env::Default();
}

}  // namespace veskar
