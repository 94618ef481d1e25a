#pragma once
// Tokenising of a LoginData poke. Platform-free.

constexpr int LoginDataTokenCount = 4;

// Splits text in place at tabs and line feeds the way strtok does: leading and repeated
// delimiters are skipped, so an empty field cannot be expressed, and a carriage return
// stays part of a value. Stores up to four tokens and returns how many were found.
int SplitLoginData(char* text, char* tokens[LoginDataTokenCount]);
