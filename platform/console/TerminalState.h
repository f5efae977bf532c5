// The terminal as the console host found it, and putting it back: its
// settings, mouse reporting and title. The restore runs on every way out (the
// platform's exit hooks, which ExitProcess, the control signals and the fault
// path run, and atexit for a plain return from main); it is idempotent and
// async-signal-safe: the bytes it writes are prepared in advance.
#pragma once

struct termios;

namespace win32::detail {

// Remembers the terminal's settings on its first call (later calls keep the
// first terminal) and arranges the restore. False if fd is not a terminal.
bool TakeTerminal(int fd);

// The settings while the console host reads the terminal: no line editing and
// no echo (the host does both), a read returns each byte; Ctrl+C and the
// other signal keys stay signals while `signals` is set.
// In the background (a job the shell has not given the terminal) nothing is
// set: the settings wait for the continue that takes the terminal back.
bool SetHostSettings(bool signals);
// Sets the terminal's settings now when the process is in the foreground;
// in the background it leaves them to the shell and answers true. No call
// here stops the process for touching the terminal from the background.
bool SetTerminalSettings(int fd, const struct termios& settings);
// Turns xterm mouse reporting (SGR encoding) on or off.
void SetMouseReporting(bool on);
// Turns the terminal's wrap at the end of a line (DECAWM) on or off through
// fd; the restore turns it on again, as terminals start.
void SetAutoWrap(int fd, bool on);
// Saves the terminal's title on the xterm title stack, once; the restore
// pops it.
void SaveTerminalTitle();
// Shows the saved title again (a pop of the title stack, and a push so that
// the restore still finds it); nothing while none was saved.
void ShowSavedTerminalTitle();

// Writes to the taken terminal (or standard output while none is taken).
void WriteToTerminal(const char* bytes, unsigned long length);
// The descriptor of the taken terminal, or -1.
int TakenTerminal();

void RestoreTerminal();

}  // namespace win32::detail
