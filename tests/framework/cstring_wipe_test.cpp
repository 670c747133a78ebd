// CString storage that is given up holds no text any more: every heap block
// the program frees is searched for a secret, and inline storage is searched
// after destruction.

#include <gtest/gtest.h>
#include <malloc.h>
#include <veskar/cstring.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Long enough to live on the heap.
constexpr char kSecret[] = "K7QM-3XRD-WP9A reference 12345678 and password";
constexpr char kShortSecret[] = "K7QM-3XRD";  // fits inline

bool g_watching = false;
int g_freed_with_secret = 0;

bool Holds(const void* block, size_t size, const char* secret) {
  return block != nullptr && memmem(block, size, secret, std::strlen(secret)) != nullptr;
}

}  // namespace

void* operator new(size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

namespace {

void Release(void* block) {
  if (g_watching && Holds(block, malloc_usable_size(block), kSecret)) ++g_freed_with_secret;
  std::free(block);
}

}  // namespace

void operator delete(void* block) noexcept { Release(block); }

void operator delete(void* block, size_t) noexcept { Release(block); }

namespace {

TEST(CStringWipeTest, ReleasedHeapStorageHoldsNoText) {
  const struct {
    const char* name;
    void (*release)(CString* text);
  } cases[] = {
      {"destruction", [](CString*) {}},
      {"Empty", [](CString* text) { text->Empty(); }},
      {"shorter text", [](CString* text) { *text = "x"; }},
      {"longer text",
       [](CString* text) { *text = "a much longer text that surely needs a new block of memory"; }},
      {"copy of another", [](CString* text) { *text = CString("y"); }},
      {"moved from another",
       [](CString* text) {
         CString other("z");
         *text = std::move(other);
       }},
      {"Format", [](CString* text) { text->Format("%d", 7); }},
      {"LoadString", [](CString* text) { text->LoadString(51000); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_freed_with_secret = 0;
    g_watching = true;
    {
      CString text(kSecret);
      CString copy(text);
      c.release(&text);
      c.release(&copy);
    }
    g_watching = false;
    EXPECT_EQ(g_freed_with_secret, 0);
  }
}

TEST(CStringWipeTest, InlineStorageIsWipedOnDestruction) {
  for (const bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "moved from" : "kept");
    alignas(CString) unsigned char storage[sizeof(CString)] = {};
    CString* text = new (storage) CString(kShortSecret);
    if (moved) {
      const CString taker(std::move(*text));
      EXPECT_STREQ(taker, kShortSecret);
    }
    text->~CString();
    EXPECT_FALSE(Holds(storage, sizeof storage, kShortSecret));
  }
}

}  // namespace
