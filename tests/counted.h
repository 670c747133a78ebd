#ifndef VESKAR_TESTS_COUNTED_H_
#define VESKAR_TESTS_COUNTED_H_

namespace veskar_test {

// A subclass of a polymorphic library class that counts its destructor runs,
// to see that deleting through a base pointer, and array delete, reach every
// object's own destructor.
template <class Base>
class Counted : public Base {
 public:
  ~Counted() override { ++destroyed; }
  static int destroyed;
};

template <class Base>
int Counted<Base>::destroyed = 0;

}  // namespace veskar_test

#endif  // VESKAR_TESTS_COUNTED_H_
