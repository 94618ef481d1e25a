#pragma once
// The bodies of the POST requests, each a process-heap block owned by the one request
// that built it and freed on every way out of it, failures included.

#include "http/heap_block.h"
#include "http/http_client.h"

#include <cstdint>

// The url-encoded form body of the client's fields, with its terminator.
class FormBody {
  public:
    // Throws failure when the heap refuses the block: nothing is written through null.
    FormBody(const HttpClient& client, const char* failure)
        : length_(client.FormBodyLength()), block_(BlockSize(length_)) {
        if (block_.Get() == nullptr)
            throw failure;
        length_ = client.BuildFormBody(block_.Get(), length_ + 1);
    }

    char* Data() const { return block_.Get(); }
    std::uint32_t Length() const { return length_; }

  private:
    // A length that leaves no room for the terminator cannot be allocated anyway; asking
    // for 0 bytes instead would wrap into a tiny block.
    static std::size_t BlockSize(std::uint32_t length) {
        return length < 0x7FFFFFFFu ? static_cast<std::size_t>(length) + 1 : SIZE_MAX;
    }

    std::uint32_t length_;
    HeapBlock block_;
};

// The multipart body of the client's fields (built in src/upload/multipart_body.cpp).
class MultipartBody {
  public:
    // Throws failure when there is no usable body: the heap refused the block, or a part
    // did not fit it.
    MultipartBody(const HttpClient& client, const char* boundary, const char* failure)
        : client_(client) {
        length_ = client_.BuildMultipartBody(&data_, boundary);
        if (data_ == nullptr || length_ == 0) {
            Free();
            throw failure;
        }
    }
    MultipartBody(const MultipartBody&) = delete;
    MultipartBody& operator=(const MultipartBody&) = delete;
    ~MultipartBody() { Free(); }

    char* Data() const { return data_; }
    std::uint32_t Length() const { return length_; }

  private:
    void Free() {
        if (data_ != nullptr)
            client_.FreeMultipartBody(data_);
        data_ = nullptr;
    }

    const HttpClient& client_;
    char* data_ = nullptr;
    std::uint32_t length_ = 0;
};
