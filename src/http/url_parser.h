#pragma once
// Splitting a service URL into the parts a connection needs. Platform-free.

#include "http/http_types.h"

#include <cstddef>
#include <cstdint>

// Every part goes into a caller's buffer of this size.
constexpr std::size_t UrlPartSize = 1024;

// Splits url into scheme, user, password, host, port and path, byte by byte and without
// decoding, with the quirks that the service's URLs rely on (see url_parser.cpp). Returns false
// when a part did not fit its buffer; that part then holds what fitted.
bool ParseUrl(const char* url, char (&scheme)[UrlPartSize], char (&user)[UrlPartSize],
              char (&password)[UrlPartSize], char (&host)[UrlPartSize], std::int32_t& port,
              char (&path)[UrlPartSize]);

// Maps a scheme text to a Scheme by its prefix ("https", then "http", then "ftp").
// Returns false for any other text.
bool SchemeFromText(const char* text, Scheme& scheme);
