#pragma once
// A block of the process heap with one owner at a time: freed when its owner lets it go,
// on every way out of a scope, or handed on to an owner that lives longer.

#include <windows.h>

#include <cstddef>

class HeapBlock {
  public:
    HeapBlock() = default;
    // Zero-filled, so that a body is terminated wherever it ends. Holds null when the heap
    // refused.
    explicit HeapBlock(std::size_t size)
        : data_(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size))) {}
    // Takes over a block that was allocated from the process heap elsewhere.
    static HeapBlock Adopt(char* block) {
        HeapBlock owner;
        owner.data_ = block;
        return owner;
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    HeapBlock(HeapBlock&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    HeapBlock& operator=(HeapBlock&& other) noexcept {
        if (this != &other) {
            Free();
            data_ = other.data_;
            other.data_ = nullptr;
        }
        return *this;
    }
    ~HeapBlock() { Free(); }

    char* Get() const { return data_; }

  private:
    void Free() {
        if (data_ != nullptr)
            HeapFree(GetProcessHeap(), 0, data_);
        data_ = nullptr;
    }

    char* data_ = nullptr;
};
