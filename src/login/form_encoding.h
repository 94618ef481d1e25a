#pragma once
// The application/x-www-form-urlencoded form of a text, as the login sends the e-mail
// address. Platform-free.

#include <cstddef>

// Writes the encoded source into destination: letters, digits, "-", "." and "_" as they
// are, a space as "+", every other byte as "%XX". Returns the length of the output, or
// -1 with destination emptied when the output and its terminator do not fit, so that a
// name is never sent cut short.
int UrlEncodeForm(char* destination, std::size_t destinationSize, const char* source);

template <std::size_t N> int UrlEncodeForm(char (&destination)[N], const char* source) {
    return UrlEncodeForm(destination, N, source);
}
