// What the compiler and the program expect of a C and C++ run-time, on KERNEL32 alone: the
// program links none, since the first Windows 95 releases ship no C run-time DLL and a static
// one brings instructions that a 386 lacks. This file is built so that the compiler does not
// turn its loops back into calls to the functions they implement.
#include <windows.h>

#include <cstddef>
#include <new>

extern "C" {

void* memcpy(void* to, const void* from, std::size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  while (count-- > 0) *out++ = *in++;
  return to;
}

void* memmove(void* to, const void* from, std::size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  if (out <= in || out >= in + count) return memcpy(to, from, count);
  while (count-- > 0) out[count] = in[count];
  return to;
}

void* memset(void* to, int value, std::size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  while (count-- > 0) *out++ = static_cast<unsigned char>(value);
  return to;
}

int memcmp(const void* left, const void* right, std::size_t count) {
  const auto* a = static_cast<const unsigned char*>(left);
  const auto* b = static_cast<const unsigned char*>(right);
  for (; count > 0; --count, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

void* memchr(const void* bytes, int value, std::size_t count) {
  const auto* at = static_cast<const unsigned char*>(bytes);
  for (; count > 0; --count, ++at) {
    if (*at == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(at);
  }
  return nullptr;
}

std::size_t strlen(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

[[noreturn]] void abort() { ExitProcess(3); }

// Pure virtual functions are never called; a call would be a fault of the program's own.
[[noreturn]] void __cxa_pure_virtual() { abort(); }

// The linker's list of constructors of objects with static storage: a count or -1, the
// functions, then 0. The compiler calls __main at the start of main, and the list runs then,
// once, last entry first as the run-time would.
extern void (*__CTOR_LIST__[])();

void __main() {
  static bool done = false;
  if (done) return;
  done = true;
  std::size_t count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) ++count;
  for (; count > 0; --count) __CTOR_LIST__[count]();
}

}  // extern "C"

// Running out of memory ends the run, where the library's operators would throw.
namespace {

void* allocate(std::size_t size) {
  if (void* block = HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1)) return block;
  abort();
}

void release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
