#pragma once
// Waiting, bounded, until the uploader answers on DDE: what a host does after starting it
// and before its first poke.

int RunWaitReady(int argc, char** argv);
