#ifndef VESKAR_TESTS_AGENTS_SEEDED_AGENT_H_
#define VESKAR_TESTS_AGENTS_SEEDED_AGENT_H_

#include <veskar/agent.h>

namespace veskar_test {

// The 51000 text every refusal loads.
constexpr char kNotAvailable[] = "Certificate Service is not avaliable";

// An agent of class Agent whose two strings a test can set, to see what an
// operation leaves alone. Only the protected members are reached; the
// behaviour is the class's own.
template <class Agent>
class Seeded : public Agent {
 public:
  Seeded() = default;
  Seeded(const char* error, const char* extended_error) { Seed(error, extended_error); }
  void Seed(const char* error, const char* extended_error) {
    this->m_strError = error;
    this->m_strExtendedError = extended_error;
  }
};

}  // namespace veskar_test

#endif  // VESKAR_TESTS_AGENTS_SEEDED_AGENT_H_
