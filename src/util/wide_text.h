#pragma once
// The program's own texts (its status, headings, alerts, questions and dialogs) are code
// page 932 literals, the bytes its debugger lines and the tests compare. Handed to the
// ANSI functions they would read right only where the system's code page is 932; through
// the wide functions, converted here from code page 932, they read right in every code
// page, and a host that reads them back with the ANSI functions on a code page 932 system
// still gets the same bytes. What a host or the system hands over (file names, the
// settings, the login data) stays in the system's code page and never comes here.

#include <string>

// cp932, code page 932 text, as UTF-16; empty for a null pointer or text that is not code
// page 932.
std::wstring WideText(const char* cp932);
