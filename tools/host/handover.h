#pragma once
// The host's ordinary use of the uploader: hand files over and say "upload".

int RunHandover(int argc, char** argv);
