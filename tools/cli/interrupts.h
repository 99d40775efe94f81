// How download-cli counts interrupts (Ctrl+C, SIGTERM, closing the console)
// and decides which of them stop it at once. The platform's console.cpp
// catches them and calls NoteInterrupt; the rest of the program only asks.
//
// Interrupts are numbered as POSIX signals on every platform: 2 for Ctrl+C
// (SIGINT), 15 for a request to end (SIGTERM). The exit status after one is
// 128 + that number.
#pragma once

#include <atomic>

inline constexpr int kInterruptSigInt = 2;
inline constexpr int kInterruptSigTerm = 15;

// Before any interrupt can come. With firstInterruptWaits (--loop) the first
// Ctrl+C only asks the program to stop after the unit under way; a second
// one, or SIGTERM, stops at once; without it every interrupt stops at once.
void ArmInterrupts(bool firstInterruptWaits);
// Called from a signal handler or the system's console thread: lock-free
// atomics only.
void NoteInterrupt(int signal);

// Once an interrupt has come that stops the program at once, the number of
// the last one; before, 0.
int StopSignal();
// The flag such an interrupt sets (nonzero from then on), for the abort
// flag of every port a unit opens (PortOptions, serial_port.h), so that no
// write waits out its bound. It lives as long as the process.
const std::atomic<int>* StopNowFlag();
// How many interrupts have come, and the number of the last one, 0 before
// any.
int InterruptCount();
int LastInterrupt();
