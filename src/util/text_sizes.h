#pragma once
// The sizes of the system's fixed text buffers, terminator included. They belong to the
// data model: what the settings file, the host and the service hand over is cut or
// refused at these lengths. Platform-free.

#include <cstddef>

// Names and paths: a login name, a password, a URL path, a file name or path, the
// program's directory (the Windows MAX_PATH), the digest text as the settings hold it.
constexpr std::size_t NameSize = 260;
// The two service URLs of the settings.
constexpr std::size_t UrlSize = 520;
// The digest text and the session token that a login job holds.
constexpr std::size_t TokenSize = 64;
// A service's answer, a LoginData poke and an upload's request target.
constexpr std::size_t LongTextSize = 2048;
