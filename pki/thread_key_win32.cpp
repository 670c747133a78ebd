#include <windows.h>

#include <new>

#include "pki/thread_key.h"

namespace veskar::pki {
namespace {

// What a thread's fiber-local slot holds: its value and whom to hand it to.
// The system calls back with the Windows calling convention, which on i686
// is not the C++ one, so the call goes through AtFiberExit.
struct Entry {
  ThreadKey::AtThreadExit at_thread_exit;
  void* value;
};

void WINAPI AtFiberExit(void* data) {
  Entry* entry = static_cast<Entry*>(data);
  if (entry == nullptr) return;
  const ThreadKey::AtThreadExit at_thread_exit = entry->at_thread_exit;
  void* value = entry->value;
  delete entry;
  if (value != nullptr) at_thread_exit(value);
}

}  // namespace

// A fiber-local slot: its callback runs when a thread ends, which a
// thread-local one (TlsAlloc) lacks. FlsFree runs it for the values still
// set, so destroying the key hands those back too.
ThreadKey::ThreadKey(AtThreadExit at_thread_exit) : at_thread_exit_(at_thread_exit) {
  const DWORD index = FlsAlloc(AtFiberExit);
  made_ = index != FLS_OUT_OF_INDEXES;
  key_ = index;
}

ThreadKey::~ThreadKey() {
  if (made_) FlsFree(static_cast<DWORD>(key_));
}

void* ThreadKey::Get() const {
  const Entry* entry = made_ ? static_cast<Entry*>(FlsGetValue(static_cast<DWORD>(key_))) : nullptr;
  return entry != nullptr ? entry->value : nullptr;
}

bool ThreadKey::Set(void* value) {
  if (!made_) return false;
  Entry* entry = static_cast<Entry*>(FlsGetValue(static_cast<DWORD>(key_)));
  if (entry == nullptr) {
    entry = new (std::nothrow) Entry{at_thread_exit_, nullptr};
    if (entry == nullptr) return false;
    if (!FlsSetValue(static_cast<DWORD>(key_), entry)) {
      delete entry;
      return false;
    }
  }
  entry->value = value;
  return true;
}

}  // namespace veskar::pki
