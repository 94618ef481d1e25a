#pragma once
// Which names the host may hand over: names of files inside the uploader's temp folder,
// relative to it. The host is any program on the desktop (DDE is open to all of them), and
// a name's file is read, sent to the album service and then deleted, so a name that
// leads anywhere else must never reach the queue. Platform-free: the caller says which
// bytes lead a double-byte character in the system's ANSI code page.

// Whether byte leads a double-byte character (IsDBCSLeadByte on Windows).
using LeadByteTest = bool (*)(unsigned char byte);

// True when name stays inside the temp folder: no segment (between "\" or "/", outside
// double-byte characters) is made of dots and blanks only, as ".." is and as Windows
// reads ".. " or "..." too; and no segment names a device that Windows reserves (CON,
// PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$), in any case and whatever follows
// its name after a dot or a colon: reading COM1 can block for ever, and NUL reads as an
// empty photo.
bool IsNameInsideTemp(const char* name, LeadByteTest isLeadByte);

// True when name can name one file that can be read and sent: it is not empty, does not
// end in a separator (outside double-byte characters) as a folder's name does, and holds
// no byte that no Windows file name holds outside double-byte characters: the wildcards
// "*" and "?" (FindFirstFile would take the name for a pattern and find some other file),
// '"', "<", ">" (which it reads as wildcards too), "|" and the control characters. Such a
// row would stop the queue: its file is never found or never opened, and it is the first
// to wait every time.
bool NamesAFile(const char* name, LeadByteTest isLeadByte);
