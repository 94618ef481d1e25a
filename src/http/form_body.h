#pragma once
// The url-encoded form body: name=value pairs joined by '&'. Platform-free.

#include "http/http_types.h"

#include <cstdint>
#include <vector>

// Length of the body without a terminator: 0 for no fields.
std::uint32_t FormBodyLength(const std::vector<FormField>& fields);

// Writes the body and its terminator into buffer. Writes nothing and returns 0 when the
// list is empty or the body with its terminator does not fit capacity; otherwise returns
// the body length. Names and values go in as stored: callers encode them beforehand.
std::uint32_t BuildFormBody(const std::vector<FormField>& fields, char* buffer,
                            std::uint32_t capacity);
