#ifndef VESKAR_TESTS_TYPE_NAMES_H_
#define VESKAR_TESTS_TYPE_NAMES_H_

#include <string>

namespace veskar_test {

// Names typed tests by index, as GoogleTest does by default (CTest then shows
// the class from the TypeParam note). Passing a generator explicitly keeps
// TYPED_TEST_SUITE clean under clang's -Wpedantic.
struct TypeIndexNames {
  template <class T>
  static std::string GetName(int index) {
    return std::to_string(index);
  }
};

}  // namespace veskar_test

#endif  // VESKAR_TESTS_TYPE_NAMES_H_
