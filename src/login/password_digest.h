#pragma once
// The digest text of the stored password, which the login sends instead of the password.

// Replaces Settings.PasswordDigest with the digest text of Settings.Password and writes
// the text to the debugger output.
void ComputePasswordDigest();
