#ifndef VESKAR_PKI_THREAD_KEY_H_
#define VESKAR_PKI_THREAD_KEY_H_

namespace veskar::pki {

// One pointer for each thread, handed to `at_thread_exit` when its thread
// ends (a POSIX thread key, a Windows fiber-local slot). Unlike a
// thread_local with a destructor it does not hold the module in memory:
// once the key is destroyed, as the module unloads, nothing is called.
class ThreadKey {
 public:
  using AtThreadExit = void (*)(void* value);
  explicit ThreadKey(AtThreadExit at_thread_exit);
  ~ThreadKey();
  ThreadKey(const ThreadKey&) = delete;
  ThreadKey& operator=(const ThreadKey&) = delete;

  // Null when the calling thread set none, or when the key could not be made.
  void* Get() const;
  // False when the key could not be made or could not hold the value.
  bool Set(void* value);

 private:
  [[maybe_unused]] AtThreadExit at_thread_exit_;  // called through a thunk where needed
  unsigned long key_ = 0;
  bool made_ = false;
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_THREAD_KEY_H_
