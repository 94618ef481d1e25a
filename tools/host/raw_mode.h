#pragma once
// Single DDE transactions for tests: the reply and the result printed exactly.

int RunRaw(int argc, char** argv);
