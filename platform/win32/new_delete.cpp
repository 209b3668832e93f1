// Allocation for a program built without exceptions: running out of memory ends the run, where
// the library's operators would throw. They would also link in the exception machinery, which
// imports functions that Windows 95 does not have.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  std::abort();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
