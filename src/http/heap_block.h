#pragma once
// A block of the process heap, freed on every way out of the scope that owns it.

#include <windows.h>

#include <cstddef>

class HeapBlock {
  public:
    // Zero-filled, as every request body has been. Holds null when the heap refused.
    explicit HeapBlock(std::size_t size)
        : data_(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size))) {}
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    ~HeapBlock() {
        if (data_ != nullptr)
            HeapFree(GetProcessHeap(), 0, data_);
    }

    char* Get() const { return data_; }

  private:
    char* data_;
};
