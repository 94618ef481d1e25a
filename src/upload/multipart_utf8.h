#pragma once
// File names of multipart parts: the service reads a non-ASCII name as UTF-8.

// Converts source from the ANSI code page to UTF-8 into dest, which has size bytes, cutting
// the text (even inside a UTF-8 sequence) to size - 1 bytes. Returns the bytes copied, the
// terminator included when nothing was cut; 0 when a conversion step fails; -1 when
// memory runs out.
int AnsiToUtf8(const char* source, char* dest, int size);
