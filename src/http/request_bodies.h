#pragma once
// The bodies of the POST requests, each a process-heap block owned by the request that
// built it. A synchronous request frees its body on every way out of it; an asynchronous
// one hands the block to its client (see AsyncHttpClient::sentBody), because WinINet may
// go on sending from it after the request's own wait has given up.

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
    HeapBlock Release() { return std::move(block_); }

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
    MultipartBody(HttpClient& client, const char* boundary, const char* failure) {
        char* data = nullptr;
        length_ = client.BuildMultipartBody(&data, boundary);
        block_ = HeapBlock::Adopt(data);
        if (block_.Get() == nullptr || length_ == 0)
            throw failure;
    }

    char* Data() const { return block_.Get(); }
    std::uint32_t Length() const { return length_; }
    HeapBlock Release() { return std::move(block_); }

  private:
    std::uint32_t length_ = 0;
    HeapBlock block_;
};
