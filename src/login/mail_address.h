#pragma once
// The e-mail address check of the login dialog. Platform-free.

// Classes of one byte of an address.
enum MailCharClass { MailCharInvalid = 0, MailCharPlain = 1, MailCharDot = 2, MailCharAt = 3 };

int ClassifyMailChar(int character);

// 0 when text is acceptable as an address, 1 to 9 for the first rule it breaks
// (MailAddressMessages holds the text to show), -1 when it has NameSize (260) bytes or more.
int ValidateMailAddress(const char* text);

constexpr int MailAddressMessageCount = 10;
// Indexed by the result of ValidateMailAddress; entry 0 is empty.
extern const char* const MailAddressMessages[MailAddressMessageCount];
